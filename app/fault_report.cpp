#include "app/fault_report.h"

#include <fcntl.h>
#include <link.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "app/fault_record.h"
#include "platform/system.h"

extern char** environ;

namespace {

constexpr int FAULT_SIGNALS[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};
constexpr int QUIT_SIGNALS[] = {SIGINT, SIGTERM};
constexpr size_t PATH_BYTES = 4096;

// Written by InstallFaultReport before any handler can run, read-only afterwards.
char executablePath[PATH_BYTES];
char helperProgram[PATH_BYTES];
uint64_t executableLoadBias = 0;
struct sigaction previousFault[sizeof FAULT_SIGNALS / sizeof FAULT_SIGNALS[0]];
struct sigaction previousQuit[sizeof QUIT_SIGNALS / sizeof QUIT_SIGNALS[0]];

std::atomic<bool> installed{false};
std::atomic<bool> reportTaken{false};  // one thread reports; the others wait for the end
std::atomic<bool> reportActive{false};
std::atomic<void (*)()> reportProbe{nullptr};

// Quit requests: the handler may only post the semaphore; the watcher or the frame loop acts.
sem_t quitSignal;
std::atomic<bool> quitPending{false};
std::atomic<bool> quitClaimed{false};
std::atomic<bool> frameLoopPolls{false};
bool watcherStarted = false;

// The fallback text when the helper cannot run; static, as the alternate stack is small.
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
    int fd = memfd_create("pfadlotse-fault", 0);
    if (fd < 0) fd = open("/tmp", O_TMPFILE | O_RDWR, 0600);
    return fd;
}

// Runs the helper with the record on its standard input. True when it reported (exit 0).
bool RunHelper(const FaultRecord& base, uint64_t stackPointer) {
    int fd = OpenRecordFile();
    if (fd < 0) return false;
    FaultRecord record = base;
    WriteAll(fd, reinterpret_cast<const char*>(&record), sizeof record);
    uint64_t start = stackPointer;
    record.stackLength = CopyStack(fd, stackPointer, start);
    record.stackPointer = start;
    if (pwrite(fd, &record, sizeof record, 0) != static_cast<ssize_t>(sizeof record) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return false;
    }
    pid_t child = _Fork();
    if (child == 0) {
        dup2(fd, STDIN_FILENO);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        char report[] = "--report";
        char* arguments[] = {helperProgram, report, executablePath, nullptr};
        execve(helperProgram, arguments, environ);
        _exit(127);
    }
    close(fd);
    if (child < 0) return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
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
    bool nearStack = signal == SIGSEGV && fromKernel &&
                     IsStackOverflowAccess(faultAddress, stackPointer);
    // int3 reports the instruction after itself.
    if (signal == SIGTRAP && (code == SI_KERNEL || code == TRAP_BRKPT)) instruction -= 1;

    // The faulting code never resumes, so a path job's stop request no longer waits for it.
    ThreadAbandon();
    if (reportTaken.exchange(true)) {
        // Another thread reports; its end ends this thread too.
        for (;;) pause();
    }
    reportActive.store(true);
    if (auto probe = reportProbe.load()) probe();

    FaultRecord record{};
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
    if (!RunHelper(record, stackPointer)) WriteFallback(record);
    RaiseDefault(signal);
}

void OnQuit(int) {
    if (reportActive.load()) return;  // the report ends the program
    int saved = errno;
    quitPending.store(true);
    sem_post(&quitSignal);
    errno = saved;
}

// ---- Outside the handler -------------------------------------------------------------------

void* WatchQuit(void*) {
    while (sem_wait(&quitSignal) != 0) {
    }
    if (frameLoopPolls.load()) {
        // The frame loop ends the program on its own thread, where closing the window is safe.
        for (int waited = 0; waited < 1000 && !quitClaimed.load(); waited += 10)
            SleepMilliseconds(10);
    }
    if (!quitClaimed.exchange(true)) EndProgram();
    return nullptr;
}

void StartQuitWatcher() {
    if (watcherStarted) return;
    sem_init(&quitSignal, 0, 0);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    // Every signal goes to the program's own threads, never to the watcher.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_t thread;
    watcherStarted = pthread_create(&thread, &attributes, WatchQuit, nullptr) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    pthread_attr_destroy(&attributes);
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
    StartQuitWatcher();

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

    struct sigaction quit {};
    quit.sa_handler = OnQuit;
    quit.sa_flags = SA_ONSTACK | SA_RESTART;
    sigemptyset(&quit.sa_mask);
    for (size_t i = 0; i < sizeof QUIT_SIGNALS / sizeof QUIT_SIGNALS[0]; ++i)
        ok = sigaction(QUIT_SIGNALS[i], &quit, &previousQuit[i]) == 0 && ok;

    installed.store(true);
    SetShutdownStep(SHUTDOWN_FAULT_HANDLER, UninstallFaultReport);
    return ok;
}

void UninstallFaultReport() {
    if (reportActive.load()) {
        for (;;) pause();
    }
    if (!installed.exchange(false)) return;
    for (size_t i = 0; i < sizeof FAULT_SIGNALS / sizeof FAULT_SIGNALS[0]; ++i)
        sigaction(FAULT_SIGNALS[i], &previousFault[i], nullptr);
    for (size_t i = 0; i < sizeof QUIT_SIGNALS / sizeof QUIT_SIGNALS[0]; ++i)
        sigaction(QUIT_SIGNALS[i], &previousQuit[i], nullptr);
}

bool FaultReportActive() { return reportActive.load(); }

bool FaultReportQuitRequested() {
    frameLoopPolls.store(true);
    return quitPending.load() && !quitClaimed.exchange(true);
}

void SetFaultReportProbe(void (*probe)()) { reportProbe.store(probe); }
