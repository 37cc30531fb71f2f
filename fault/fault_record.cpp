// The fault record: the kinds of fault and their texts, shared by every port.
#include "fault/fault_record.h"

namespace {

struct KindText {
    uint32_t kind;
    const char* text;
};

// Word for word as users have always seen them, oddities included.
constexpr KindText KIND_TEXTS[] = {
    {0, "No Error"},
    {0x80000003, "BREAKPOINT A breakpoint was encountered."},
    {0x80000004,
     "SINGLE_STEP The CPU has signalled that one instruction has been executed.Only of interest "
     "to Debuggers"},
    {0xC0000005,
     "An attempted read or write to/from an address to which that process isn't allowed"},
    {0xC0000008,
     "INVALID_HANDLE The API call was passed a handle to a kernel object which was invalid "
     "-usually because that handle has already been closed."},
    {0xC000001D, "Try to execute an invalid instruction -such as MMX opcodes on a non MMX system"},
    {0xC0000025,
     "The exception filter returned EXCEPTION_CONTINUE_EXCEPTION when the exception raised isn't "
     "restartable"},
    {0xC0000026,
     "INVALID_DISPOSITION Whatever number the exception filter returned, it wasn't a value the OS "
     "knows about."},
    {0xC000008D,
     "FLOAT_DENORMAL_OPERAND One of the operands in a floating-point operation is too small to be "
     "represented in a floating-point value."},
    {0xC000008E, "FLOAT_DIVIDE_BY_ZERO The thread tried to divide a floating-point value by zero."},
    {0xC000008F,
     "FLOAT_INEXACT_RESULT The accuracy of the last floating point operation is worse than usual "
     "as it is impossible to represent in the float accurately,"},
    {0xC0000090, "FLOAT_INVALID_OPERATION Any other floating-point exception."},
    {0xC0000091, "FLOAT_OVERFLOW The result was too big to represent"},
    {0xC0000092,
     "FLOAT_STACK_CHECK A floating point stack overflowed or underflow. This related to the "
     "baroque design of the floating point unit."},
    {0xC0000093, "FLT_UNDERFLOW The result was too small to represent"},
    {0xC0000094, "Attempted division by zero"},
    {0xC0000096,
     "The instruction is not allowed in the current ring (inport, outport & control register "
     "manipulation usually)"},
    {0xC00000FD,
     "Stack overflow.Can occur during errant recursion, or when a function creates a particularly "
     "large array on the stack."},
    {0xC000013A, "CONTROL_C_EXIT Lets the debugger know the user hit Ctrl-C. "},
    {0xC0000142, "EXCEPTION_DLL_Initialisation_Failure raised when DllMain() returns false (?)"},
};

// Appends text to out[length..capacity-1], cutting it to fit; returns the new length.
size_t Append(char* out, size_t capacity, size_t length, const char* text) {
    while (*text && length + 1 < capacity) out[length++] = *text++;
    out[length] = '\0';
    return length;
}

size_t AppendUnsigned(char* out, size_t capacity, size_t length, uint64_t value) {
    char digits[21];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value);
    char text[21];
    for (size_t i = 0; i < count; ++i) text[i] = digits[count - 1 - i];
    text[count] = '\0';
    return Append(out, capacity, length, text);
}

}  // namespace

const char* FaultKindText(uint32_t kind) {
    for (const KindText& entry : KIND_TEXTS)
        if (entry.kind == kind) return entry.text;
    return "UNKNOWN Error";
}

size_t FormatFaultAddress(char* out, uint64_t address, int pointerBits) {
    int64_t value = pointerBits == 32
                        ? static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(address)))
                        : static_cast<int64_t>(address);
    out[0] = '\0';
    size_t length = 0;
    uint64_t magnitude = static_cast<uint64_t>(value);
    if (value < 0) {
        length = Append(out, 21, length, "-");
        magnitude = 0 - magnitude;  // also right for the smallest value
    }
    return AppendUnsigned(out, 21, length, magnitude);
}

void FaultFileTableInit(FaultFileTable& table, const char* mainFile) {
    table.paths[0] = mainFile;
    table.paths[1] = "geometry/vector2d.cpp";
    table.paths[2] = "geometry/math.cpp";
    table.paths[3] = "geometry/line2d.cpp";
    table.paths[4] = "app/mouse.cpp";
    table.count = 5;
}

uint32_t FaultFileIndex(FaultFileTable& table, const char* path) {
    for (int i = 0; i < table.count; ++i) {
        const char* a = table.paths[i];
        const char* b = path;
        while (*a && *a == *b) ++a, ++b;
        if (*a == *b) return static_cast<uint32_t>(i);
    }
    if (table.count >= FAULT_FILE_LIMIT) return 0;
    table.paths[table.count] = path;
    return static_cast<uint32_t>(table.count++);
}

const char* FaultFileName(const FaultFileTable& table, uint32_t index) {
    if (index == 0 || index >= static_cast<uint32_t>(table.count)) return "Main Module";
    return table.paths[index];
}

size_t ComposeFaultMessage(char* out, size_t capacity, uint32_t kind, const char* fileName,
                           uint32_t line, uint64_t address, int pointerBits) {
    char addressText[21];
    FormatFaultAddress(addressText, address, pointerBits);
    size_t length = Append(out, capacity, 0, "Typ: ");
    length = Append(out, capacity, length, FaultKindText(kind));
    length = Append(out, capacity, length, "\nFile: ");
    length = Append(out, capacity, length, fileName);
    length = Append(out, capacity, length, "   Line: ");
    length = AppendUnsigned(out, capacity, length, line);
    length = Append(out, capacity, length, "\nMemory: ");
    return Append(out, capacity, length, addressText);
}
