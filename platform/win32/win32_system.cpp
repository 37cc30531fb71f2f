// Windows services below the shared threads, memory and quit handling: native threads with
// stack kept in reserve for the fault report, the console's quit events, standard error.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <csignal>
#include <cstdio>

#include "platform/system.h"
#include "platform/system_port.h"

namespace {
// Enough stack left after an overflow for the fault report to compose and show its lines.
constexpr ULONG STACK_RESERVE_BYTES = 64 * 1024;
thread_local bool stackReserved = false;

struct Start {
    void (*entry)(void*);
    void* argument;
};

DWORD WINAPI Trampoline(LPVOID raw) {
    Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.entry(start.argument);
    return 0;
}

void (*quitHandler)(int) = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (!quitHandler) return FALSE;
    quitHandler(event == CTRL_C_EVENT ? SIGINT : SIGTERM);
    return TRUE;
}

// The tools print JSON and write files that must be the same bytes as on Linux: no "\r\n".
const int binaryStreams = [] {
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return 0;
}();
}  // namespace

bool PortStartThread(void (*entry)(void*), void* argument, size_t stackBytes) {
    auto* start = new Start{entry, argument};
    HANDLE thread = CreateThread(nullptr, stackBytes, Trampoline, start,
                                 stackBytes > 0 ? STACK_SIZE_PARAM_IS_A_RESERVATION : 0, nullptr);
    if (!thread) {
        delete start;
        return false;
    }
    CloseHandle(thread);
    return true;
}

void PortThreadBegins() { ThreadInstallSignalStack(); }
void PortThreadEnds() {}

void ThreadInstallSignalStack() {
    if (stackReserved) return;
    ULONG reserve = STACK_RESERVE_BYTES;
    stackReserved = SetThreadStackGuarantee(&reserve) != 0;
}

void PrepareProcess() {
    // No "program has stopped working" dialog of the system's own: the fault report shows ours.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // The window program is a GUI program, so that no console window opens beside it; started
    // from a console, it still says there what went wrong.
    auto usable = [](HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; };
    if (!usable(GetStdHandle(STD_ERROR_HANDLE)) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        HANDLE console =
            CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (usable(console)) {
            SetStdHandle(STD_ERROR_HANDLE, console);
            if (std::freopen("CONOUT$", "w", stderr)) _setmode(_fileno(stderr), _O_BINARY);
        }
    }
    (void)binaryStreams;
}

int PortTuneAllocator() { return 0; }

void PortWriteError(const char* text, size_t length) {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    while (length > 0) {
        DWORD written = 0;
        DWORD chunk = length > 65536 ? 65536 : static_cast<DWORD>(length);
        if (!WriteFile(error, text, chunk, &written, nullptr) || written == 0) return;
        text += written;
        length -= written;
    }
}

bool PortWatchQuitRequests(void (*handler)(int signal)) {
    quitHandler = handler;
    return SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != 0;
}
