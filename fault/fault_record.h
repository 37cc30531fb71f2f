// What a fault report says, and the record the faulting process hands to the report helper.
//
// Everything here is safe inside a signal handler: no allocation, no locks, no stdio. Texts
// are written into buffers the caller provides and are always terminated.
#pragma once

#include <cstddef>
#include <cstdint>

// ---- Fault kinds ---------------------------------------------------------------------------

constexpr uint32_t FAULT_NONE = 0;
constexpr uint32_t FAULT_BREAKPOINT = 0x80000003;
constexpr uint32_t FAULT_SINGLE_STEP = 0x80000004;
constexpr uint32_t FAULT_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t FAULT_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr uint32_t FAULT_FLOAT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t FAULT_FLOAT_INEXACT_RESULT = 0xC000008F;
constexpr uint32_t FAULT_FLOAT_INVALID_OPERATION = 0xC0000090;
constexpr uint32_t FAULT_FLOAT_OVERFLOW = 0xC0000091;
constexpr uint32_t FAULT_FLOAT_UNDERFLOW = 0xC0000093;
constexpr uint32_t FAULT_INTEGER_DIVIDE_BY_ZERO = 0xC0000094;
constexpr uint32_t FAULT_PRIVILEGED_INSTRUCTION = 0xC0000096;
constexpr uint32_t FAULT_STACK_OVERFLOW = 0xC00000FD;

// The text shown for a kind code; "UNKNOWN Error" for codes the table does not know.
const char* FaultKindText(uint32_t kind);

// ---- Texts ---------------------------------------------------------------------------------

// Writes the address as a signed decimal of pointerBits (32 or 64) bits, so an address of
// 2^(bits-1) or more prints as a negative number. Returns the length written (without the
// terminating zero); out must hold 21 bytes.
size_t FormatFaultAddress(char* out, uint64_t address, int pointerBits);

// The current source position: file index in the upper 8 bits, line in the lower 24 bits.
constexpr uint32_t FaultPosition(uint32_t fileIndex, uint32_t line) {
    return (fileIndex << 24) | (line & 0xFFFFFFu);
}
constexpr uint32_t FaultPositionFile(uint32_t position) { return position >> 24; }
constexpr uint32_t FaultPositionLine(uint32_t position) { return position & 0xFFFFFFu; }

// The source-file table: index 0 is the file holding the frame loop, shown as "Main Module";
// the fixed indexes 1 to 4 follow; further files are added as they are met. Paths are relative
// to the project root.
constexpr int FAULT_FILE_LIMIT = 256;
struct FaultFileTable {
    const char* paths[FAULT_FILE_LIMIT];
    int count;
};
// A table holding the fixed entries, index 0 being mainFile.
void FaultFileTableInit(FaultFileTable& table, const char* mainFile);
// The index of path, added when new; 0 when the table is full. path must outlive the table.
uint32_t FaultFileIndex(FaultFileTable& table, const char* path);
// "Main Module" for index 0, the recorded path otherwise (index 0 again when unknown).
const char* FaultFileName(const FaultFileTable& table, uint32_t index);

// The report's three lines joined by single line feeds, no line feed at the end:
//   "Typ: " kind text / "File: " name "   Line: " line / "Memory: " address.
// Returns the length written; the text is cut to fit capacity (which must be at least 1).
size_t ComposeFaultMessage(char* out, size_t capacity, uint32_t kind, const char* fileName,
                           uint32_t line, uint64_t address, int pointerBits);

// ---- The record handed to the helper -------------------------------------------------------

constexpr uint32_t FAULT_RECORD_MAGIC = 0x46444650;  // "PFDF"
constexpr uint32_t FAULT_RECORD_VERSION = 1;
// At most this much of the faulting thread's stack is copied, from the stack pointer upwards.
constexpr uint64_t FAULT_STACK_COPY_LIMIT = 256 * 1024;

// Written at the start of the record; the stack copy follows directly.
struct FaultRecord {
    uint32_t magic;
    uint32_t version;
    int32_t signal;
    int32_t code;  // si_code
    uint32_t kind;
    int32_t pointerBits;
    uint64_t instruction;  // the faulting instruction, as shown
    uint64_t stackPointer;
    uint64_t faultAddress;
    uint64_t loadBias;     // where the executable is mapped, relative to its file addresses
    uint64_t stackLength;  // bytes of stack copied, starting at stackPointer
};
