// Threads and standard error on any POSIX system with pthreads: Linux, and the browser, whose
// threads are pthreads over Web Workers.
#include <pthread.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system_port.h"

namespace {
struct Start {
    void (*entry)(void*);
    void* argument;
};

void* Trampoline(void* raw) {
    Start start = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    start.entry(start.argument);
    return nullptr;
}

}  // namespace

bool PortStartThread(void (*entry)(void*), void* argument, size_t stackBytes) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stackBytes > 0) {
        size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attributes, stackBytes < minimum ? minimum : stackBytes);
    }
    auto* start = new Start{entry, argument};
    pthread_t handle;
    int failed = pthread_create(&handle, &attributes, Trampoline, start);
    pthread_attr_destroy(&attributes);
    if (failed) delete start;
    return failed == 0;
}

void PortWriteError(const char* text, size_t length) {
    int saved = errno;
    while (length > 0) {
        ssize_t written = write(STDERR_FILENO, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) break;
        text += written;
        length -= static_cast<size_t>(written);
    }
    errno = saved;
}
