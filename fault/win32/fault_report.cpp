// The fault report on Windows. A vectored handler and the unhandled-exception filter catch the
// fault; the faulting thread hands it to the report's own thread, made at install time with a
// stack of its own (after a stack overflow the faulting thread has almost none left, and a box
// needs much), and waits there. The report's thread unwinds the faulting thread's stack with
// the executable's unwind data to the first line of our code, read from the line table the
// build put beside the executable, writes the three lines to stderr, shows the box and ends the
// process with the exception code as its status.
//
// The vectored handler is there because 64-bit Windows swallows a fault inside a window
// procedure before any filter sees it. It takes a fault at once only when no code between the
// fault and our own has a handler of its own (system code probes memory that way and expects
// its faults); everything else goes its usual way and, unhandled, reaches the filter.
#include "fault/fault_report.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "fault/fault_record.h"
#include "fault/line_table.h"
#include "platform/system.h"

namespace {

// How long the box may take to come up before the report gives up on it (the lines are on
// stderr by then): a box needs the window system, which the faulting thread may have broken.
constexpr int SHOW_LIMIT_MS = 8000;
constexpr SIZE_T REPORT_STACK = 1024 * 1024;
constexpr int FRAME_LIMIT = 256;
constexpr size_t MESSAGE_BYTES = 2048;
constexpr size_t PATH_BYTES = 512;

// The committed part of a thread's stack: every frame lies in it, so an unwind that reads only
// there cannot fault, however broken the frames are.
struct StackBounds {
    uint64_t low, high;
};

// Written by InstallFaultReport before any handler can run, read-only afterwards.
uint64_t moduleBase = 0;
uint64_t moduleEnd = 0;
LineTable lineTable{nullptr, 0};
DWORD frameLoopThread = 0;
DWORD reportThread = 0;
HANDLE reportReady = nullptr;
HANDLE boxShown = nullptr;
int showLimitMs = SHOW_LIMIT_MS;
PVOID vectoredHandler = nullptr;
LPTOP_LEVEL_EXCEPTION_FILTER previousFilter = nullptr;

std::atomic<bool> installed{false};
std::atomic<bool> reportTaken{false};  // one thread reports; the others wait for the end
std::atomic<bool> reportActive{false};
std::atomic<DWORD> takingThread{0};
enum LinesState { LINES_NONE, LINES_WRITING, LINES_OUT };
std::atomic<int> linesState{LINES_NONE};
std::atomic<void (*)()> reportProbe{nullptr};
std::atomic<void (*)()> frameLoopStep{nullptr};

// The fault being reported, written by the faulting thread before reportReady is set.
DWORD faultCode = 0;
uint64_t faultAddress = 0;
CONTEXT faultContext;
StackBounds faultStack{0, 0};
bool faultOnFrameLoop = false;

// Static: the heap may be what broke.
char messageText[MESSAGE_BYTES];
char fallbackText[MESSAGE_BYTES];
wchar_t messageWide[MESSAGE_BYTES];
char mainFile[PATH_BYTES];
char runningFile[PATH_BYTES];

[[noreturn]] void Park() {
    for (;;) Sleep(INFINITE);
}

void WriteStderr(const char* text, size_t length) {
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    while (length > 0 && err && err != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        if (!WriteFile(err, text, static_cast<DWORD>(length), &written, nullptr) || written == 0)
            return;
        text += written;
        length -= written;
    }
}

bool InOurModule(uint64_t pc) { return pc >= moduleBase && pc < moduleEnd; }

StackBounds CurrentStack() {
    // The thread's own information block (NtCurrentTeb, read directly: the header's inline
    // version trips the compiler's bounds check).
    const NT_TIB* tib;
    asm("mov %%gs:0x30, %0" : "=r"(tib));
    return {reinterpret_cast<uint64_t>(tib->StackLimit),
            reinterpret_cast<uint64_t>(tib->StackBase)};
}

bool OnStack(const StackBounds& stack, uint64_t address) {
    return address >= stack.low && address < stack.high && stack.high - address >= 8;
}

// The value of the register a function's frame is addressed by (0: by the stack pointer).
uint64_t FrameRegister(const CONTEXT& context, DWORD64 imageBase, PRUNTIME_FUNCTION function) {
    const auto* info = reinterpret_cast<const uint8_t*>(imageBase + function->UnwindData);
    unsigned number = info[3] & 0x0F;
    if (number == 0) return 0;
    const DWORD64* registers = &context.Rax;  // Rax to R15 in their encoding order
    return registers[number];
}

// One frame outward. handler: set when the function has an exception handler that covers pc.
// False at the end of the stack or where the frame is not on it.
bool Unwind(CONTEXT& context, const StackBounds& bounds, bool* handler) {
    uint64_t pc = context.Rip;
    uint64_t stack = context.Rsp;
    DWORD64 imageBase = 0;
    PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(pc, &imageBase, nullptr);
    if (!OnStack(bounds, stack)) return false;
    if (function) {
        uint64_t frame = FrameRegister(context, imageBase, function);
        if (frame != 0 && !OnStack(bounds, frame)) return false;
    }
    if (!function) {
        // A leaf function: nothing saved, the return address on top.
        context.Rip = *reinterpret_cast<DWORD64*>(stack);
        context.Rsp += 8;
    } else {
        PVOID handlerData = nullptr;
        DWORD64 establisher = 0;
        PEXCEPTION_ROUTINE routine =
            RtlVirtualUnwind(handler ? UNW_FLAG_EHANDLER : UNW_FLAG_NHANDLER, imageBase, pc,
                             function, &context, &handlerData, &establisher, nullptr);
        if (handler) *handler = routine != nullptr;
    }
    return context.Rip != 0 && context.Rsp > stack && OnStack(bounds, context.Rsp);
}

// Whether the vectored handler reports the fault at once: our executable's code is reached
// from the faulting instruction outward without passing a frame of other code that has an
// exception handler.
bool ReachesOurCodeUnhandled(const CONTEXT& start) {
    StackBounds bounds = CurrentStack();
    CONTEXT context = start;
    for (int frame = 0; frame < FRAME_LIMIT; ++frame) {
        if (InOurModule(context.Rip)) return true;
        bool handler = false;
        if (!Unwind(context, bounds, &handler) || handler) return false;
    }
    return false;
}

// The first line of our code from the faulting instruction outward: the instruction itself,
// then each caller's call instruction (one byte before the return address).
bool FindRunningLine(uint32_t& file, uint32_t& line) {
    if (!lineTable.text) return false;
    CONTEXT context = faultContext;
    for (int frame = 0; frame < FRAME_LIMIT; ++frame) {
        uint64_t pc = context.Rip - (frame > 0 ? 1 : 0);
        if (InOurModule(pc) && LineTableLookup(lineTable, pc - moduleBase, file, line)) return true;
        if (!Unwind(context, faultStack, nullptr)) return false;
    }
    return false;
}

// The message without the line tables.
size_t ComposeFallback() {
    return ComposeFaultMessage(fallbackText, sizeof fallbackText - 1, faultCode, "Main Module", 0,
                               faultAddress, 64);
}

// Ends the report that is under way, from whichever thread: the lines reach stderr once, and
// the process ends with the exception code. TerminateProcess, not ExitProcess: the faulting
// thread may hold locks that the library's own shutdown would wait for.
[[noreturn]] void EndReport() {
    int none = LINES_NONE;
    if (linesState.compare_exchange_strong(none, LINES_WRITING)) {
        size_t length = ComposeFallback();
        fallbackText[length++] = '\n';
        WriteStderr(fallbackText, length);
        linesState.store(LINES_OUT);
    } else {
        for (int waited = 0; waited < 1000 && linesState.load() != LINES_OUT; ++waited) Sleep(1);
    }
    TerminateProcess(GetCurrentProcess(), faultCode);
    Park();
}

// A fault inside the report itself (its own thread, the probe, the frame loop's step): end at
// once, with the first fault's status when there is one.
[[noreturn]] void EndNested(DWORD code) {
    if (reportActive.load()) EndReport();
    TerminateProcess(GetCurrentProcess(), code);
    Park();
}

VOID CALLBACK OnBoxUp(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    SetEvent(boxShown);
}

DWORD WINAPI RunReport(void*) {
    WaitForSingleObject(reportReady, INFINITE);
    // The frozen frame loop still holds the mouse; the box must get it.
    if (faultOnFrameLoop) {
        if (auto step = frameLoopStep.load()) step();
    }
    FaultFileTable files;
    FaultFileTableInit(files, mainFile);
    uint32_t file = 0, line = 0;
    uint32_t position = 0;
    if (FindRunningLine(file, line)) {
        // Index 0 is the frame loop's file, which the shared table calls "Main Module".
        if (file == 0 || LineTableFile(lineTable, file, runningFile, sizeof runningFile))
            position = FaultPosition(file == 0 ? 0 : FaultFileIndex(files, runningFile), line);
    }
    size_t length = ComposeFaultMessage(messageText, sizeof messageText - 1, faultCode,
                                        FaultFileName(files, FaultPositionFile(position)),
                                        FaultPositionLine(position), faultAddress, 64);
    int none = LINES_NONE;
    if (linesState.compare_exchange_strong(none, LINES_WRITING)) {
        messageText[length] = '\n';
        WriteStderr(messageText, length + 1);
        messageText[length] = '\0';
        linesState.store(LINES_OUT);
    }
    // Our texts are Windows-1252.
    if (!MultiByteToWideChar(1252, 0, messageText, -1, messageWide, MESSAGE_BYTES))
        messageWide[0] = L'\0';
    // The timer fires once the box's own message loop runs, that is, once it is up.
    SetTimer(nullptr, 0, 10, OnBoxUp);
    MessageBoxW(nullptr, messageWide, L"Fehler", MB_OK | MB_SETFOREGROUND);
    EndReport();
}

[[noreturn]] void TakeReport(EXCEPTION_POINTERS* pointers) {
    DWORD self = GetCurrentThreadId();
    DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (self == reportThread || self == takingThread.load()) EndNested(code);
    // The faulting code never resumes, so a path job's stop request no longer waits for it.
    ThreadAbandon();
    if (reportTaken.exchange(true)) Park();  // another thread reports; its end ends this one
    takingThread.store(self);
    faultCode = code;
    faultAddress = reinterpret_cast<uint64_t>(pointers->ExceptionRecord->ExceptionAddress);
    faultContext = *pointers->ContextRecord;
    faultStack = CurrentStack();
    faultOnFrameLoop = self == frameLoopThread;
    reportActive.store(true);
    if (auto probe = reportProbe.load()) probe();
    SetEvent(reportReady);
    if (WaitForSingleObject(boxShown, static_cast<DWORD>(showLimitMs)) != WAIT_OBJECT_0)
        EndReport();
    Park();
}

// Processor faults and the system's error codes; not exceptions that programs raise for their
// own handlers (customer codes, C++ exceptions), nor warnings and notices.
bool IsFault(DWORD code) {
    if (code == FAULT_BREAKPOINT || code == FAULT_SINGLE_STEP) return true;
    return (code & 0xC0000000u) == 0xC0000000u && !(code & 0x20000000u);
}

LONG CALLBACK OnVectored(EXCEPTION_POINTERS* pointers) {
    DWORD code = pointers->ExceptionRecord->ExceptionCode;
    if (!IsFault(code)) return EXCEPTION_CONTINUE_SEARCH;
    DWORD self = GetCurrentThreadId();
    if (self == reportThread || self == takingThread.load()) EndNested(code);
    if (!ReachesOurCodeUnhandled(*pointers->ContextRecord)) return EXCEPTION_CONTINUE_SEARCH;
    TakeReport(pointers);
}

LONG WINAPI OnUnhandled(EXCEPTION_POINTERS* pointers) { TakeReport(pointers); }

// A quit request while the box is open: the user wants out now.
void InterceptQuit(int) {
    if (reportActive.load()) EndReport();
}

const IMAGE_NT_HEADERS& ModuleHeaders() {
    return *reinterpret_cast<const IMAGE_NT_HEADERS*>(
        moduleBase + reinterpret_cast<const IMAGE_DOS_HEADER*>(moduleBase)->e_lfanew);
}

// The executable's build id from its CodeView record, in 32 hex digits as objdump prints it (the
// GUID's fields as numbers, then its last eight bytes).
bool ReadBuildId(char (&out)[33]) {
    const IMAGE_DATA_DIRECTORY& directory =
        ModuleHeaders().OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_DEBUG];
    const auto* entries =
        reinterpret_cast<const IMAGE_DEBUG_DIRECTORY*>(moduleBase + directory.VirtualAddress);
    for (size_t i = 0; directory.VirtualAddress && i < directory.Size / sizeof *entries; ++i) {
        const IMAGE_DEBUG_DIRECTORY& entry = entries[i];
        if (entry.Type != IMAGE_DEBUG_TYPE_CODEVIEW || !entry.AddressOfRawData ||
            entry.SizeOfData < 24)
            continue;
        const auto* record = reinterpret_cast<const uint8_t*>(moduleBase + entry.AddressOfRawData);
        if (record[0] != 'R' || record[1] != 'S' || record[2] != 'D' || record[3] != 'S') continue;
        const uint8_t* guid = record + 4;
        // Data1 (4 bytes), Data2 and Data3 (2 each) are little-endian numbers; Data4 is bytes.
        const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int j = 0; j < 16; ++j) {
            out[2 * j] = "0123456789abcdef"[guid[order[j]] >> 4];
            out[2 * j + 1] = "0123456789abcdef"[guid[order[j]] & 15];
        }
        out[32] = '\0';
        return true;
    }
    return false;
}

// The line table, mapped for good: nothing has to be read or allocated at fault time.
void MapLineTable(const char* path) {
    wchar_t name[MAX_PATH + 8];
    if (path) {
        if (!MultiByteToWideChar(CP_UTF8, 0, path, -1, name, MAX_PATH)) return;
    } else {
        DWORD length = GetModuleFileNameW(nullptr, name, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) return;
        DWORD dot = length;
        while (dot > 0 && name[dot - 1] != L'.' && name[dot - 1] != L'\\') --dot;
        if (dot > 0 && name[dot - 1] == L'.') length = dot - 1;
        const wchar_t extension[] = L".lines";
        for (size_t i = 0; i < sizeof extension / sizeof extension[0]; ++i)
            name[length + i] = extension[i];
    }
    HANDLE file = CreateFileW(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size;
    HANDLE mapping = nullptr;
    if (GetFileSizeEx(file, &size) && size.QuadPart > 0 && size.QuadPart < (1LL << 30))
        mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    CloseHandle(file);
    if (!mapping) return;
    void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(mapping);
    if (!view) return;
    char buildId[33];
    LineTable table{static_cast<const char*>(view), static_cast<size_t>(size.QuadPart)};
    if (!ReadBuildId(buildId) || !LineTableMatches(table, buildId) ||
        !LineTableFile(table, 0, mainFile, sizeof mainFile)) {
        UnmapViewOfFile(view);
        return;
    }
    lineTable = table;
}

}  // namespace

bool InstallFaultReport(const char* lineTablePath) {
    if (installed.load()) return true;
    frameLoopThread = GetCurrentThreadId();
    moduleBase = reinterpret_cast<uint64_t>(GetModuleHandleW(nullptr));
    moduleEnd = moduleBase + ModuleHeaders().OptionalHeader.SizeOfImage;
    const char mainDefault[] = "app/frame_loop.cpp";
    for (size_t i = 0; i < sizeof mainDefault; ++i) mainFile[i] = mainDefault[i];
    MapLineTable(lineTablePath);
    // Tests shorten the wait for a box that never comes.
    if (const char* limit = std::getenv("PFAD_FAULT_SHOW_LIMIT_MS")) {
        int value = std::atoi(limit);
        if (value > 0) showLimitMs = value;
    }
    // Room for the handlers after a stack overflow; the platform gives every thread it starts
    // the same.
    ThreadInstallSignalStack();
    reportReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    boxShown = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = reportReady && boxShown
                        ? CreateThread(nullptr, REPORT_STACK, RunReport, nullptr,
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, &reportThread)
                        : nullptr;
    if (!thread) return false;
    CloseHandle(thread);
    vectoredHandler = AddVectoredExceptionHandler(1, OnVectored);
    previousFilter = SetUnhandledExceptionFilter(OnUnhandled);
    SetQuitInterceptor(InterceptQuit);
    installed.store(true);
    SetShutdownStep(SHUTDOWN_FAULT_HANDLER, UninstallFaultReport);
    return vectoredHandler != nullptr;
}

void UninstallFaultReport() {
    if (reportTaken.load()) {
        // A worker's box is open and the program is asked to end: the report ends it.
        while (!reportActive.load()) Sleep(1);
        EndReport();
    }
    if (!installed.exchange(false)) return;
    SetQuitInterceptor(nullptr);
    if (vectoredHandler) RemoveVectoredExceptionHandler(vectoredHandler);
    vectoredHandler = nullptr;
    SetUnhandledExceptionFilter(previousFilter);
}

bool FaultReportActive() { return reportActive.load(); }

void SetFaultReportFrameLoopStep(void (*step)()) { frameLoopStep.store(step); }

void SetFaultReportProbe(void (*probe)()) { reportProbe.store(probe); }
