// The fault handler: captures the fault, hands it to the helper program, waits for it within
// bounds and ends the process with the fault's own signal.
#include "fault/fault_report.h"

#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fault/fault_record.h"
#include "fault/posix/fault_signal.h"
#include "platform/system.h"

extern char** environ;

namespace {

constexpr int FAULT_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int QUIT_SIGNALS[] = {SIGINT, SIGTERM};
constexpr size_t PATH_BYTES = 4096;
// How long the helper may take to put its box on screen (or to end without one). Reading the
// line tables takes well under a second; the rest is slack for a busy machine.
constexpr int SHOW_LIMIT_MS = 8000;
// The descriptors the helper finds the running executable and the notice pipe on.
constexpr int HELPER_EXECUTABLE_FD = 3;
constexpr int HELPER_NOTICE_FD = 4;

// Written by InstallFaultReport before any handler can run, read-only afterwards.
char executablePath[PATH_BYTES];
char helperProgram[PATH_BYTES];
// The running executable, opened at start-up: a rebuild that replaces the file on disk does
// not change what the helper reads.
int executableFd = -1;
uint64_t executableLoadBias = 0;
pid_t programPid = 0;
pthread_t frameLoopThread;
int showLimitMs = SHOW_LIMIT_MS;
struct sigaction previousFault[sizeof FAULT_SIGNALS / sizeof FAULT_SIGNALS[0]];

std::atomic<bool> installed{false};
std::atomic<bool> reportTaken{false};  // one thread reports; the others wait for the end
std::atomic<bool> reportActive{false};
std::atomic<bool> reportEnding{false};
std::atomic<int> reportSignal{0};
std::atomic<pid_t> helperGroup{0};
std::atomic<int> noticeFd{-1};
std::atomic<bool> linesWritten{false};  // the helper has put the three lines on stderr
std::atomic<void (*)()> reportProbe{nullptr};
std::atomic<void (*)()> frameLoopStep{nullptr};

// The record of the fault being reported, for the fallback text; static, as the alternate
// stack is small.
FaultRecord reportRecord;
char fallbackText[1024];

// ---- Signal-safe pieces --------------------------------------------------------------------

void WriteAll(int fd, const char* text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        text += written;
        length -= static_cast<size_t>(written);
    }
}

int64_t NowMilliseconds() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

// Copies the stack from about stackPointer upwards into fd, page by page, stopping at the first
// page that cannot be read (the kernel reports it instead of faulting). A stack pointer already
// inside the guard area is stepped over. Returns where the copy starts and its length.
uint64_t CopyStack(int fd, uint64_t stackPointer, uint64_t& start) {
    constexpr uint64_t PAGE = 4096;
    constexpr uint64_t GUARD_SKIP = 64 * 1024;
    uint64_t at = stackPointer;
    uint64_t end = stackPointer + FAULT_STACK_COPY_LIMIT;
    start = at;
    while (at < end) {
        uint64_t pageEnd = (at | (PAGE - 1)) + 1;
        size_t length = static_cast<size_t>((pageEnd < end ? pageEnd : end) - at);
        // The raw call: a checking write() wrapper would object to reading dead stack slots.
        ssize_t written = syscall(SYS_write, fd, reinterpret_cast<const void*>(at), length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (at == start && at - stackPointer < GUARD_SKIP) {
                at = pageEnd;
                start = at;
                continue;
            }
            break;
        }
        at += static_cast<uint64_t>(written);
    }
    return at - start;
}

int OpenRecordFile() {
    int fd = memfd_create("pfadlotse-fault", MFD_CLOEXEC);
    if (fd < 0) fd = open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    return fd;
}

// Takes in the helper's notices: 'R' the lines are on stderr, 'S' the box is on screen. Returns
// what read() returned: 0 at the end of the pipe (everybody holding it has gone).
ssize_t ReadNotices(int fd, bool& shown) {
    char notices[16];
    ssize_t got = read(fd, notices, sizeof notices);
    for (ssize_t i = 0; i < got; ++i) {
        if (notices[i] == 'R') linesWritten.store(true);
        if (notices[i] == 'S') shown = true;
    }
    return got;
}

// The notices still in the pipe, without waiting.
void DrainNotices(int fd) {
    if (fd < 0) return;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return;
    bool shown = false;
    while (ReadNotices(fd, shown) > 0) {
    }
}

// The child side of RunHelper: its own process group, dies with the program, and finds the
// record on stdin, the executable on HELPER_EXECUTABLE_FD and the notice pipe on
// HELPER_NOTICE_FD.
[[noreturn]] void ExecHelper(int recordFd, int noticeWrite) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != programPid) _exit(127);  // the program ended before the line above
    dup2(recordFd, STDIN_FILENO);
    // Above the two target numbers first, so neither dup2 below overwrites the other's source.
    int executable = executableFd >= 0 ? fcntl(executableFd, F_DUPFD_CLOEXEC, 10) : -1;
    int notice = noticeWrite >= 0 ? fcntl(noticeWrite, F_DUPFD_CLOEXEC, 10) : -1;
    char executableArgument[] = "/proc/self/fd/3";
    char* executableName = executablePath;
    if (executable >= 0 && dup2(executable, HELPER_EXECUTABLE_FD) == HELPER_EXECUTABLE_FD)
        executableName = executableArgument;
    char noticeOption[] = "--notice";
    char noticeNumber[] = "4";
    bool noticed = notice >= 0 && dup2(notice, HELPER_NOTICE_FD) == HELPER_NOTICE_FD;
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    char report[] = "--report";
    char* arguments[] = {helperProgram, report, executableName, noticed ? noticeOption : nullptr,
                         noticeNumber,  nullptr};
    execve(helperProgram, arguments, environ);
    _exit(127);
}

// Runs the helper with the record on its standard input and waits until it has ended, or until
// it has failed to show its box in time. The helper's process group is gone on return.
void RunHelper(const FaultRecord& base, uint64_t stackPointer) {
    int fd = OpenRecordFile();
    if (fd < 0) return;
    FaultRecord record = base;
    WriteAll(fd, reinterpret_cast<const char*>(&record), sizeof record);
    uint64_t start = stackPointer;
    record.stackLength = CopyStack(fd, stackPointer, start);
    record.stackPointer = start;
    if (pwrite(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return;
    }
    int notice[2] = {-1, -1};
    if (pipe2(notice, O_CLOEXEC) != 0) notice[0] = notice[1] = -1;
    pid_t child = _Fork();
    if (child == 0) ExecHelper(fd, notice[1]);
    close(fd);
    if (notice[1] >= 0) close(notice[1]);
    if (child < 0) {
        if (notice[0] >= 0) close(notice[0]);
        return;
    }
    setpgid(child, child);  // also here: the group must exist before anyone signals it
    helperGroup.store(child);
    noticeFd.store(notice[0]);

    bool shown = false;
    bool pipeOpen = notice[0] >= 0;
    int64_t deadline = NowMilliseconds() + showLimitMs;
    for (;;) {
        // Seen ended but not reaped yet: its number stays taken until its group is gone.
        siginfo_t ended{};
        int seen = waitid(P_PID, static_cast<id_t>(child), &ended, WEXITED | WNOHANG | WNOWAIT);
        if ((seen == 0 && ended.si_pid == child) || (seen < 0 && errno != EINTR)) break;
        int64_t left = deadline - NowMilliseconds();
        if (!shown && left <= 0) break;  // no box in time: give up on the helper
        int wait = shown || left > 100 ? 100 : static_cast<int>(left);
        if (pipeOpen) {
            pollfd ready{notice[0], POLLIN, 0};
            if (poll(&ready, 1, wait) > 0 && ReadNotices(notice[0], shown) == 0) pipeOpen = false;
        } else {
            timespec pause{0, static_cast<long>(wait) * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
    kill(-child, SIGKILL);  // whatever the helper left: its box, the box's focus helper
    kill(child, SIGKILL);
    helperGroup.store(0);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (pipeOpen) DrainNotices(notice[0]);  // notices that came with the end
}

// What the handler knows without the line tables.
void WriteFallback(const FaultRecord& record) {
    size_t length = ComposeFaultMessage(fallbackText, sizeof fallbackText - 1, record.kind,
                                        "Main Module", 0, record.instruction, record.pointerBits);
    fallbackText[length++] = '\n';
    WriteAll(STDERR_FILENO, fallbackText, length);
}

// Ends the process with the signal's default action, core dump included.
[[noreturn]] void RaiseDefault(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    raise(signal);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    _exit(128 + signal);
}

// Ends the report that is under way, from whichever thread: the helper's group goes, the
// lines reach stderr once, and the process ends with the fault's signal.
[[noreturn]] void EndReport() {
    if (reportEnding.exchange(true)) {
        for (;;) pause();  // another thread is ending the process
    }
    if (pid_t group = helperGroup.load(); group > 0) {
        kill(-group, SIGKILL);
        kill(group, SIGKILL);
    }
    DrainNotices(noticeFd.load());
    if (!linesWritten.load()) WriteFallback(reportRecord);
    RaiseDefault(reportSignal.load());
}

bool OnFrameLoopThread() { return pthread_equal(pthread_self(), frameLoopThread) != 0; }

void OnFault(int signal, siginfo_t* info, void* context) {
    const mcontext_t& machine = static_cast<ucontext_t*>(context)->uc_mcontext;
    uint64_t instruction = static_cast<uint64_t>(machine.gregs[REG_RIP]);
    uint64_t stackPointer = static_cast<uint64_t>(machine.gregs[REG_RSP]);
    int code = info->si_code;
    // Only the kernel's own reports carry a fault address; kill() and raise() do not.
    bool fromKernel = code > 0 && code != SI_KERNEL;
    uint64_t faultAddress = fromKernel && (signal == SIGSEGV || signal == SIGBUS)
                                ? reinterpret_cast<uint64_t>(info->si_addr)
                                : 0;
    bool nearStack =
        signal == SIGSEGV && fromKernel && IsStackOverflowAccess(faultAddress, stackPointer);
    // int3 reports the instruction after itself.
    if (signal == SIGTRAP && (code == SI_KERNEL || code == TRAP_BRKPT)) instruction -= 1;

    // The faulting code never resumes, so a path job's stop request no longer waits for it.
    ThreadAbandon();
    // A frozen frame loop still holds the mouse; the box must get it, whoever reports.
    if (OnFrameLoopThread()) {
        if (auto step = frameLoopStep.load()) step();
    }
    if (reportTaken.exchange(true)) {
        // Another thread reports; its end ends this thread too.
        for (;;) pause();
    }

    FaultRecord& record = reportRecord;
    record = FaultRecord{};
    record.magic = FAULT_RECORD_MAGIC;
    record.version = FAULT_RECORD_VERSION;
    record.signal = signal;
    record.code = code;
    record.kind = FaultKindOfSignal(signal, code, nearStack);
    record.pointerBits = static_cast<int32_t>(sizeof(void*) * 8);
    record.instruction = instruction;
    record.stackPointer = stackPointer;
    record.faultAddress = faultAddress;
    record.loadBias = executableLoadBias;
    reportSignal.store(signal);
    reportActive.store(true);
    if (auto probe = reportProbe.load()) probe();

    // A quit request must reach the report even when this is the only thread left to take it.
    sigset_t quit;
    sigemptyset(&quit);
    for (int each : QUIT_SIGNALS) sigaddset(&quit, each);
    pthread_sigmask(SIG_UNBLOCK, &quit, nullptr);

    RunHelper(record, stackPointer);
    EndReport();
}

// SIGINT or SIGTERM while the box is open: the user wants out now.
void InterceptQuit(int) {
    if (reportActive.load()) EndReport();
}

int RecordMainObject(dl_phdr_info* info, size_t, void*) {
    executableLoadBias = info->dlpi_addr;
    return 1;  // the first object is the executable
}

bool CopyText(char* destination, const char* source, size_t capacity) {
    size_t length = std::strlen(source);
    if (length >= capacity) return false;
    std::memcpy(destination, source, length + 1);
    return true;
}

}  // namespace

bool InstallFaultReport(const char* helperPath) {
    ThreadInstallSignalStack();
    programPid = getpid();
    frameLoopThread = pthread_self();
    if (executableFd < 0) executableFd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    ssize_t length = readlink("/proc/self/exe", executablePath, PATH_BYTES - 1);
    executablePath[length > 0 ? length : 0] = '\0';
    dl_iterate_phdr(RecordMainObject, nullptr);
    if (helperPath) {
        CopyText(helperProgram, helperPath, PATH_BYTES);
    } else {
        const char* slash = std::strrchr(executablePath, '/');
        size_t folder = slash ? static_cast<size_t>(slash - executablePath) + 1 : 0;
        const char name[] = "pfadlotse-fault-helper";
        if (folder + sizeof name <= PATH_BYTES) {
            std::memcpy(helperProgram, executablePath, folder);
            std::memcpy(helperProgram + folder, name, sizeof name);
        }
    }
    // Tests shorten the wait for a box that never comes.
    if (const char* limit = std::getenv("PFAD_FAULT_SHOW_LIMIT_MS")) {
        int value = std::atoi(limit);
        if (value > 0) showLimitMs = value;
    }

    struct sigaction action {};
    action.sa_sigaction = OnFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    // A fault inside the handler then finds its signal blocked, and the kernel ends the process.
    sigemptyset(&action.sa_mask);
    for (int signal : FAULT_SIGNALS) sigaddset(&action.sa_mask, signal);
    for (int signal : QUIT_SIGNALS) sigaddset(&action.sa_mask, signal);
    bool ok = true;
    for (size_t i = 0; i < sizeof FAULT_SIGNALS / sizeof FAULT_SIGNALS[0]; ++i)
        ok = sigaction(FAULT_SIGNALS[i], &action, &previousFault[i]) == 0 && ok;
    SetQuitInterceptor(InterceptQuit);

    installed.store(true);
    SetShutdownStep(SHUTDOWN_FAULT_HANDLER, UninstallFaultReport);
    return ok;
}

void UninstallFaultReport() {
    if (reportTaken.load()) {
        // A worker's box is open and the program is asked to end: the report ends it.
        while (!reportActive.load()) SleepMilliseconds(1);
        EndReport();
    }
    if (!installed.exchange(false)) return;
    SetQuitInterceptor(nullptr);
    for (size_t i = 0; i < sizeof FAULT_SIGNALS / sizeof FAULT_SIGNALS[0]; ++i)
        sigaction(FAULT_SIGNALS[i], &previousFault[i], nullptr);
}

bool FaultReportActive() { return reportActive.load(); }

void SetFaultReportFrameLoopStep(void (*step)()) { frameLoopStep.store(step); }

void SetFaultReportProbe(void (*probe)()) { reportProbe.store(probe); }
