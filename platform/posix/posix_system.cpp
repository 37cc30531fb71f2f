// POSIX services below the shared threads, memory and quit handling: pthreads with their own
// alternate signal stacks, glibc's allocator, signals.
#include <malloc.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system.h"
#include "platform/system_port.h"

namespace {
thread_local void* signalStack = nullptr;
constexpr size_t SIGNAL_STACK_BYTES = 64 * 1024;

void RemoveSignalStack() {
    if (!signalStack) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
    munmap(signalStack, SIGNAL_STACK_BYTES);
    signalStack = nullptr;
}
}  // namespace

void PortThreadBegins() {
    // A name of our own, so that tools and tests tell our threads from the libraries' ones.
    pthread_setname_np(pthread_self(), "pfad-thread");
    ThreadInstallSignalStack();
}

void PortThreadEnds() { RemoveSignalStack(); }

void ThreadInstallSignalStack() {
    if (signalStack) return;
    void* memory = mmap(nullptr, SIGNAL_STACK_BYTES, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (memory == MAP_FAILED) return;
    stack_t stack{};
    stack.ss_sp = memory;
    stack.ss_size = SIGNAL_STACK_BYTES;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(memory, SIGNAL_STACK_BYTES);
        return;
    }
    signalStack = memory;
}

void PrepareProcess() {
    // A file size limit should fail a save, not end the program with the scene in it.
    signal(SIGXFSZ, SIG_IGN);
}

int PortTuneAllocator() {
    // Blocks of a megabyte and more come straight from the system, already zero, so calloc never
    // clears them by hand (glibc would raise this threshold after the first large block is freed,
    // and a search asked to stop would then wait for megabytes of clearing).
    return mallopt(M_MMAP_THRESHOLD, 1 << 20);
}

bool PortWatchQuitRequests(void (*handler)(int signal)) {
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    bool ok = true;
    for (int signal : {SIGINT, SIGTERM}) ok = sigaction(signal, &action, nullptr) == 0 && ok;
    return ok;
}
