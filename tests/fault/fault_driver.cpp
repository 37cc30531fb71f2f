// A program that installs the fault report and then faults on demand, for the child-process
// tests. Before faulting it prints "LINE n" (the line of the fault site, which is the line the
// report must name) and, where known, "ADDRESS a" (the faulting instruction).
//
//   fault_driver MODE THREAD COUNTFILE
//   MODE   null-store | divide | trap | int3 | bus | recursion | geometry | assert | raise-fpe |
//          inline | library | fault-code | tail | both | handler-fault | before-install | quit |
//          on-go | end-during-report
//   THREAD main | worker: the thread that faults; the other one counts into COUNTFILE
//
// FAULT_DRIVER_HELPER overrides the helper program's path. "quit" says READY, stays busy for a
// second without looking at quit requests, then ends through EndProgram once one is there.
// "on-go" says READY, waits for the file COUNTFILE.go and then stores through a null pointer.
// A fault site shares its line with the announcement of that line: no formatting here.
// clang-format off
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fault/fault_record.h"
#include "fault/fault_report.h"
#include "geometry/geometry.h"
#include "platform/system.h"

namespace {

std::string mode;
int countFile = -1;
std::atomic<int> started{0};

void Say(const char* key, long long value) {
    char text[64];
    int length = std::snprintf(text, sizeof text, "%s %lld\n", key, value);
    if (write(STDOUT_FILENO, text, static_cast<size_t>(length)) < 0) std::abort();
}
void Announce(int line) { Say("LINE", line); }

// Values the compiler cannot see through, so every fault really happens where it is written.
int* volatile nullTarget = nullptr;
volatile int zero = 0;
volatile int sink = 0;
std::vector<int>* volatile nullVector = nullptr;
const char* volatile nullText = nullptr;

[[gnu::noinline]] int Recurse(volatile char* previous) { volatile char pad[512]; if (!previous) return 0; pad[0] = previous[0]; return Recurse(pad) + pad[1]; } constexpr int RECURSE_LINE = __LINE__;

extern "C" char driver_int3_site[];

// The library call is this function's last act, which an optimiser makes a jump: no return
// address then leads back to this line.
[[gnu::noinline]] size_t TailCall() { Announce(__LINE__); return std::strlen(nullText); }

// Sets up what a fault needs, then faults on this line of this file.
void Fault() {
    if (mode == "null-store" || mode == "both" || mode == "before-install" ||
        mode == "end-during-report") {
        Announce(__LINE__); *nullTarget = 7;
    } else if (mode == "divide") {
        Announce(__LINE__); sink = 7 / zero;
    } else if (mode == "trap") {
        Announce(__LINE__); __builtin_trap();
    } else if (mode == "int3") {
        Say("ADDRESS", reinterpret_cast<long long>(driver_int3_site));
        Announce(__LINE__); asm volatile("driver_int3_site: int3");
    } else if (mode == "bus") {
        char path[] = "/tmp/fault_driver_XXXXXX";
        int fd = mkstemp(path);
        if (fd < 0 || ftruncate(fd, 4096) != 0) std::abort();
        auto* mapped = static_cast<volatile char*>(
            mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
        if (mapped == MAP_FAILED || ftruncate(fd, 0) != 0) std::abort();
        unlink(path);
        Announce(__LINE__); sink = mapped[0];
    } else if (mode == "recursion") {
        char first = 1;
        Announce(RECURSE_LINE); sink = Recurse(&first);
    } else if (mode == "geometry") {
        // The wall list was never made: AddWall's append fails inside the list code, and the
        // report names AddWall's line.
        Announce(0); AddWall(1, 2, 3, 4);
    } else if (mode == "assert") {
        // A broken precondition: AddWall while a path job counts as reading the walls. The
        // assert in AddWall stops on a breakpoint, and the report names the assert's line.
        CountWallReader(1);
        Announce(0); AddWall(1, 2, 3, 4);
    } else if (mode == "inline") {
        // Faults in code inlined from a library header: the report names this line.
        Announce(__LINE__); sink = static_cast<int>(nullVector->size());
    } else if (mode == "library") {
        // Faults inside the C library, which has no line tables of ours: this line called it.
        Announce(__LINE__); sink = static_cast<int>(std::strlen(nullText));
    } else if (mode == "fault-code") {
        // Faults inside the fault report's own code, which is a service like the platform:
        // the report names this line, which called it.
        Announce(__LINE__); ComposeFaultMessage(nullptr, 64, 0, "x", 1, 0, 64);
    } else if (mode == "tail") {
        sink = static_cast<int>(TailCall());
    } else if (mode == "on-go") {
        Announce(__LINE__); *nullTarget = 5;
    } else if (mode == "raise-fpe") {
        Announce(__LINE__); raise(SIGFPE);
    } else if (mode == "handler-fault") {
        Announce(__LINE__); *nullTarget = 9;
    }
}

void Count() {
    long long count = 0;
    for (;;) {
        ++count;
        if (pwrite(countFile, &count, sizeof count, 0) != sizeof count) std::abort();
        started.store(1);
        SleepMilliseconds(1);
    }
}

void CountProcedure(void*) { Count(); }

void FaultProcedure(void*) {
    while (!started.load()) SleepMilliseconds(1);
    if (mode == "both") started.store(2);
    Fault();
}

void WriteEndMarker(const char* text) {
    int fd = open(getenv("FAULT_DRIVER_MARKER"), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd >= 0) {
        if (write(fd, text, std::strlen(text)) < 0) std::abort();
        close(fd);
    }
}

pid_t mainThread = 0;
void MarkEnd() { WriteEndMarker(gettid() == mainThread ? "frame loop" : "other thread"); }

}  // namespace

// The driver's frame loop: counts while a worker faults, or waits for a quit request. Its file
// is the one the report calls "Main Module".
[[gnu::noinline]] void RunFrameLoop() {
    if (mode == "quit") {
        Say("READY", 1);
        SleepMilliseconds(1000);  // a long frame: a quit request waits for its end
        for (;;) {
            if (QuitRequested()) EndProgram();
            SleepMilliseconds(10);
        }
    }
    if (mode == "end-during-report") {
        // What Escape in the main window does while a worker's box is open.
        started.store(1);
        while (!FaultReportActive()) SleepMilliseconds(1);
        SleepMilliseconds(100);
        EndProgram();
    }
    Count();
}

void HandlerFault() { *nullTarget = 8; }

int main(int argc, char** argv) {
    WatchQuitRequests();
    mainThread = gettid();
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::puts("usage: fault_driver MODE main|worker COUNTFILE (see the source for modes)");
        return 0;
    }
    if (argc != 4) return 2;
    mode = argv[1];
    bool onWorker = std::strcmp(argv[2], "worker") == 0;
    countFile = open(argv[3], O_WRONLY | O_CREAT, 0600);
    // No core files from intended faults, and a bounded stack for the runaway recursion.
    struct rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
    struct rlimit stack{8 << 20, 8 << 20};
    setrlimit(RLIMIT_STACK, &stack);

    if (mode != "before-install") {
        const char* helper = getenv("FAULT_DRIVER_HELPER");
        InstallFaultReport(helper ? helper : PFAD_FAULT_HELPER);
    }
    if (mode == "handler-fault") SetFaultReportProbe(HandlerFault);
    if (getenv("FAULT_DRIVER_MARKER")) SetShutdownStep(SHUTDOWN_FILES, MarkEnd);
    if (mode == "quit") RunFrameLoop();
    if (mode == "on-go") {
        Say("READY", 1);
        std::string go = std::string(argv[3]) + ".go";
        while (access(go.c_str(), F_OK) != 0) SleepMilliseconds(5);
    }

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
