// The report's texts and the mapping of signals to kinds, without faulting.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <string>

#include "fault/fault_record.h"
#include "fault/posix/fault_signal.h"

namespace {

std::string Address(uint64_t address, int bits) {
    char text[21];
    size_t length = FormatFaultAddress(text, address, bits);
    EXPECT_EQ(length, std::strlen(text));
    return text;
}

std::string Message(uint32_t kind, const char* file, uint32_t line, uint64_t address, int bits) {
    char text[1024];
    size_t length = ComposeFaultMessage(text, sizeof text, kind, file, line, address, bits);
    return std::string(text, length);
}

TEST(FaultAddress, ThirtyTwoBitAddressesFromTwoToTheThirtyOneUpArePrintedNegative) {
    EXPECT_EQ(Address(0x7FFFFFFF, 32), "2147483647");
    EXPECT_EQ(Address(0x80000000, 32), "-2147483648");
    EXPECT_EQ(Address(0xFFFFFFFF, 32), "-1");
    EXPECT_EQ(Address(0x80401000, 32), "-2143285248");
    EXPECT_EQ(Address(0x00401000, 32), "4198400");
    EXPECT_EQ(Address(0, 32), "0");
}

TEST(FaultAddress, SixtyFourBitAddressesKeepTheirUpperHalf) {
    EXPECT_EQ(Address(0x00005555'55554000, 64), "93824992231424");
    EXPECT_EQ(Address(0xFFFFFFFF'FFFFFFFF, 64), "-1");
    EXPECT_EQ(Address(0x80000000'00000000, 64), "-9223372036854775808");
    EXPECT_EQ(Address(0x80000000, 64), "2147483648");
}

TEST(FaultKindText, KnownKindsAreWordForWordAndOthersUnknown) {
    EXPECT_STREQ(FaultKindText(0xC0000094), "Attempted division by zero");
    EXPECT_STREQ(FaultKindText(0xC0000005),
                 "An attempted read or write to/from an address to which that process isn't "
                 "allowed");
    EXPECT_STREQ(FaultKindText(0xC000013A),
                 "CONTROL_C_EXIT Lets the debugger know the user hit "
                 "Ctrl-C. ");
    EXPECT_STREQ(FaultKindText(0), "No Error");
    EXPECT_STREQ(FaultKindText(0xC0000006), "UNKNOWN Error");
    EXPECT_STREQ(FaultKindText(0xFFFFFFFF), "UNKNOWN Error");
    EXPECT_STREQ(FaultKindText(0x80000003 + 0x40000000), "UNKNOWN Error");
}

TEST(FaultKindOfSignal, MapsEachSignalAndCode) {
    EXPECT_EQ(FaultKindOfSignal(SIGSEGV, SEGV_MAPERR, false), FAULT_ACCESS_VIOLATION);
    EXPECT_EQ(FaultKindOfSignal(SIGSEGV, SEGV_ACCERR, true), FAULT_STACK_OVERFLOW);
    EXPECT_EQ(FaultKindOfSignal(SIGBUS, BUS_ADRERR, false), FAULT_ACCESS_VIOLATION);
    EXPECT_EQ(FaultKindOfSignal(SIGFPE, FPE_INTDIV, false), FAULT_INTEGER_DIVIDE_BY_ZERO);
    EXPECT_EQ(FaultKindOfSignal(SIGFPE, FPE_FLTDIV, false), 0xC000008Eu);
    EXPECT_EQ(FaultKindOfSignal(SIGFPE, FPE_FLTOVF, false), 0xC0000091u);
    EXPECT_EQ(FaultKindOfSignal(SIGFPE, FPE_FLTUND, false), 0xC0000093u);
    EXPECT_EQ(FaultKindOfSignal(SIGFPE, FPE_FLTRES, false), 0xC000008Fu);
    EXPECT_EQ(FaultKindOfSignal(SIGFPE, FPE_FLTINV, false), 0xC0000090u);
    EXPECT_STREQ(FaultKindText(FaultKindOfSignal(SIGFPE, FPE_INTOVF, false)), "UNKNOWN Error");
    EXPECT_STREQ(FaultKindText(FaultKindOfSignal(SIGFPE, SI_USER, false)), "UNKNOWN Error");
    EXPECT_EQ(FaultKindOfSignal(SIGILL, ILL_ILLOPN, false), FAULT_ILLEGAL_INSTRUCTION);
    EXPECT_EQ(FaultKindOfSignal(SIGILL, ILL_PRVOPC, false), FAULT_PRIVILEGED_INSTRUCTION);
    EXPECT_EQ(FaultKindOfSignal(SIGTRAP, TRAP_TRACE, false), FAULT_SINGLE_STEP);
    EXPECT_EQ(FaultKindOfSignal(SIGTRAP, SI_KERNEL, false), FAULT_BREAKPOINT);
    EXPECT_EQ(FaultKindOfSignal(SIGTRAP, TRAP_BRKPT, false), FAULT_BREAKPOINT);
}

TEST(FaultKindOfSignal, StackOverflowNeedsAnAccessNextToTheStackPointer) {
    EXPECT_TRUE(IsStackOverflowAccess(0x7ffd0000 - 8, 0x7ffd0000));
    EXPECT_TRUE(IsStackOverflowAccess(0x7ffd0000 + 4000, 0x7ffd0000));
    EXPECT_FALSE(IsStackOverflowAccess(0, 0x7ffd0000));
    EXPECT_FALSE(IsStackOverflowAccess(0x7ffd0000 - 1024 * 1024, 0x7ffd0000));
}

TEST(FaultMessage, IsThreeLinesWithoutTrailingLineFeed) {
    EXPECT_EQ(Message(0xC0000094, "Main Module", 300, 0x401234, 32),
              "Typ: Attempted division by zero\nFile: Main Module   Line: 300\nMemory: 4198964");
    EXPECT_EQ(Message(0x12345678, "geometry/line2d.cpp", 17, 0x80000010, 32),
              "Typ: UNKNOWN Error\nFile: geometry/line2d.cpp   Line: 17\nMemory: -2147483632");
}

TEST(FaultMessage, IsCutToTheBufferAndStaysTerminated) {
    char text[12];
    size_t length = ComposeFaultMessage(text, sizeof text, 0xC0000094, "Main Module", 1, 1, 64);
    EXPECT_EQ(length, 11u);
    EXPECT_EQ(std::string(text), "Typ: Attemp");
}

TEST(FaultFileTable, FixedIndexesComeFirstAndNewFilesAreAdded) {
    FaultFileTable table;
    FaultFileTableInit(table, "app/frame_loop.cpp");
    EXPECT_EQ(FaultFileIndex(table, "app/frame_loop.cpp"), 0u);
    EXPECT_EQ(FaultFileIndex(table, "geometry/vector2d.cpp"), 1u);
    EXPECT_EQ(FaultFileIndex(table, "geometry/math.cpp"), 2u);
    EXPECT_EQ(FaultFileIndex(table, "geometry/line2d.cpp"), 3u);
    EXPECT_EQ(FaultFileIndex(table, "app/mouse.cpp"), 4u);
    EXPECT_EQ(FaultFileIndex(table, "pathsearch/direct_search.cpp"), 5u);
    EXPECT_EQ(FaultFileIndex(table, "pathsearch/direct_search.cpp"), 5u);
    EXPECT_EQ(FaultFileIndex(table, "geometry/line2"), 6u);  // a prefix is another file
    EXPECT_STREQ(FaultFileName(table, 0), "Main Module");
    EXPECT_STREQ(FaultFileName(table, 3), "geometry/line2d.cpp");
    EXPECT_STREQ(FaultFileName(table, 5), "pathsearch/direct_search.cpp");
    EXPECT_STREQ(FaultFileName(table, 200), "Main Module");

    uint32_t position = FaultPosition(3, 0x123456);
    EXPECT_EQ(position, 0x03123456u);
    EXPECT_EQ(FaultPositionFile(position), 3u);
    EXPECT_EQ(FaultPositionLine(position), 0x123456u);
}

TEST(FaultFileTable, AFullTableGivesIndexZero) {
    FaultFileTable table;
    FaultFileTableInit(table, "app/frame_loop.cpp");
    static char names[FAULT_FILE_LIMIT][8];
    for (int i = 5; i < FAULT_FILE_LIMIT; ++i) {
        std::snprintf(names[i], sizeof names[i], "f%d", i);
        EXPECT_EQ(FaultFileIndex(table, names[i]), static_cast<uint32_t>(i));
    }
    EXPECT_EQ(FaultFileIndex(table, "one too many"), 0u);
}

}  // namespace
