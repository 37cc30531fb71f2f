// A Windows program that installs the fault report and then faults on demand, for the tests
// under Wine. It prints "MODULE base end" (its own code's addresses), "LINE n" (the line of the
// fault site, which the report must name) and, for a fault at a known instruction, "ADDRESS a".
//
//   win_fault_driver MODE main|worker     (the thread that faults; the other one counts)
//   MODE  access | divide | breakpoint | illegal | privileged | stack | float-divide |
//         raise-overflow | raise-unknown | inline | library | window | both | handler-fault |
//         end-during-report
//
// The counting frame loop prints "RUNNING" once it has gone on for a while with the report
// active, as the real one releases the mouse then.
// A fault site shares its line with the announcement of that line: no formatting here.
// clang-format off
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fault/fault_record.h"
#include "fault/fault_report.h"
#include "platform/system.h"

namespace {

std::string mode;
std::atomic<int> started{0};

void Say(const char* key, long long value) {
    std::printf("%s %lld\n", key, value);
    std::fflush(stdout);
}
void Announce(int line) { Say("LINE", line); }

// Values the compiler cannot see through, so every fault really happens where it is written.
int* volatile nullTarget = nullptr;
volatile int zero = 0;
volatile int sink = 0;
std::vector<int>* volatile nullVector = nullptr;
const char* volatile nullText = nullptr;

[[gnu::noinline]] int Recurse(volatile char* previous) { volatile char pad[512]; if (!previous) return 0; pad[0] = previous[0]; return Recurse(pad) + pad[1]; } constexpr int RECURSE_LINE = __LINE__;

extern "C" char driver_int3_site[], driver_ud2_site[], driver_hlt_site[];

LRESULT CALLBACK FaultingWindowProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_CREATE) {
        Announce(__LINE__); *nullTarget = 3;
    }
    return DefWindowProcW(window, message, w, l);
}

// Sets up what a fault needs, then faults on this line of this file.
[[gnu::noinline]] void Fault() {
    if (mode == "access" || mode == "both" || mode == "handler-fault" ||
        mode == "end-during-report") {
        Announce(__LINE__); *nullTarget = 7;
    } else if (mode == "divide") {
        Announce(__LINE__); sink = 7 / zero;
    } else if (mode == "breakpoint") {
        Say("ADDRESS", reinterpret_cast<long long>(driver_int3_site));
        Announce(__LINE__); asm volatile("driver_int3_site: int3");
    } else if (mode == "illegal") {
        Say("ADDRESS", reinterpret_cast<long long>(driver_ud2_site));
        Announce(__LINE__); asm volatile("driver_ud2_site: ud2");
    } else if (mode == "privileged") {
        Say("ADDRESS", reinterpret_cast<long long>(driver_hlt_site));
        Announce(__LINE__); asm volatile("driver_hlt_site: hlt");
    } else if (mode == "stack") {
        char first = 1;
        Announce(RECURSE_LINE); sink = Recurse(&first);
    } else if (mode == "float-divide") {
        // x87 with the divide-by-zero exception unmasked: the processor's own float fault.
        unsigned short control = 0x037B;
        Announce(__LINE__); asm volatile("fldcw %0\n fld1\n fldz\n fdivrp\n fwait\n fstp %%st(0)" : : "m"(control));
    } else if (mode == "raise-overflow") {
        // No instruction raises this on x64 (SSE faults arrive as multiple traps): raised.
        Announce(__LINE__); RaiseException(FAULT_FLOAT_OVERFLOW, 0, 0, nullptr);
    } else if (mode == "raise-unknown") {
        // A customer code, which only the unhandled-exception filter takes.
        Announce(__LINE__); RaiseException(0xE0001234, 0, 0, nullptr);
    } else if (mode == "inline") {
        // Faults in code inlined from a library header: the report names this line.
        Announce(__LINE__); sink = static_cast<int>(nullVector->size());
    } else if (mode == "library") {
        // Faults inside the C library's DLL: this line called it.
        Announce(__LINE__); sink = static_cast<int>(std::strlen(nullText));
    } else if (mode == "window") {
        // Inside a window procedure called back from the system (WM_CREATE), where 64-bit
        // Windows, and Wine, would swallow the fault and go on.
        WNDCLASSW type{};
        type.lpfnWndProc = FaultingWindowProcedure;
        type.hInstance = GetModuleHandleW(nullptr);
        type.lpszClassName = L"FaultDriver";
        RegisterClassW(&type);
        CreateWindowW(L"FaultDriver", L"Treiber", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                      nullptr, type.hInstance, nullptr);
        Say("SWALLOWED", 1);
    }
}

void HandlerFault() { *nullTarget = 8; }

void FaultProcedure(void*) {
    while (!started.load()) SleepMilliseconds(1);
    if (mode == "both") started.store(2);
    Fault();
}

void CountProcedure(void*) {
    started.store(1);
    for (;;) SleepMilliseconds(1);
}

}  // namespace

// The driver's frame loop: counts while a worker faults. Its file is the one the report calls
// "Main Module".
[[gnu::noinline]] void RunFrameLoop() {
    started.store(1);
    int sinceActive = 0;
    for (;;) {
        if (FaultReportActive() && ++sinceActive == 200) {
            Say("RUNNING", 1);
            if (mode == "end-during-report") UninstallFaultReport();  // EndProgram's step
        }
        SleepMilliseconds(1);
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        std::puts("usage: win_fault_driver MODE main|worker (see the source for modes)");
        return 2;
    }
    mode = argv[1];
    bool onWorker = std::strcmp(argv[2], "worker") == 0;
    InstallFaultReport();
    if (mode == "handler-fault") SetFaultReportProbe(HandlerFault);
    auto base = reinterpret_cast<uintptr_t>(GetModuleHandleW(nullptr));
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    std::printf("MODULE %llu %llu\n", static_cast<unsigned long long>(base),
                static_cast<unsigned long long>(base + headers->OptionalHeader.SizeOfImage));
    if (onWorker || mode == "both") {
        if (ThreadStart(FaultProcedure, nullptr) == 0) return 3;
        if (mode == "both") {
            started.store(1);
            while (started.load() != 2) {
            }
            Fault();
        }
        RunFrameLoop();
    } else {
        if (ThreadStart(CountProcedure, nullptr) == 0) return 3;
        while (!started.load()) SleepMilliseconds(1);
        Fault();
    }
    return 0;
}
// clang-format on
