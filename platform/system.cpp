// Threads, the lock, the clock, texts and the end of the program.
#include "platform/system.h"

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/system_port.h"

// ---- Threads -------------------------------------------------------------------------------

namespace {

struct ThreadRecord {
    int32_t number = 0;
    ThreadProcedure procedure = nullptr;
    void* argument = nullptr;
    std::atomic<bool> ended{false};
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> abandoned{false};
};

std::mutex threadTableLock;
std::vector<std::shared_ptr<ThreadRecord>> threadTable;  // guarded by threadTableLock
int32_t lastThreadNumber = 0;                            // guarded by threadTableLock

thread_local ThreadRecord* currentThread = nullptr;

// Every started thread builds its texts in a work area of its own (see Texts below).
void MakeTextArea();
void FreeTextArea();

void ThreadTrampoline(void* raw) {
    // The table may forget the record once the thread has ended; this reference keeps it alive.
    std::shared_ptr<ThreadRecord> record(*static_cast<std::shared_ptr<ThreadRecord>*>(raw));
    delete static_cast<std::shared_ptr<ThreadRecord>*>(raw);
    currentThread = record.get();
    PortThreadBegins();
    MakeTextArea();
    record->procedure(record->argument);
    // Ended as soon as the procedure has returned: a caller waiting in ThreadKill waits for the
    // procedure, not for the unmapping of this thread's own stacks, which queues behind any
    // other thread's large unmapping (a stopped search frees its memory on a thread apart).
    currentThread = nullptr;
    record->ended.store(true, std::memory_order_release);
    FreeTextArea();
    PortThreadEnds();
}

std::shared_ptr<ThreadRecord> FindThread(int32_t number) {
    std::lock_guard<std::mutex> guard(threadTableLock);
    for (auto& record : threadTable)
        if (record->number == number) return record;
    return nullptr;
}

void ForgetThread(int32_t number) {
    std::lock_guard<std::mutex> guard(threadTableLock);
    std::erase_if(threadTable, [number](auto& record) { return record->number == number; });
}

}  // namespace

#if PFAD_CHECKS
namespace {
std::atomic<int32_t> threadStartCountdown{0};

bool ThreadStartFails() {
    int32_t left = threadStartCountdown.load(std::memory_order_relaxed);
    while (left > 0)
        if (threadStartCountdown.compare_exchange_weak(left, left - 1)) return left == 1;
    return false;
}
}  // namespace

void FailThreadStart(int32_t count) { threadStartCountdown.store(count > 0 ? count : 0); }
#endif

int32_t ThreadStartWithStack(ThreadProcedure procedure, void* argument, size_t stackBytes) {
#if PFAD_CHECKS
    if (ThreadStartFails()) return 0;  // before the table: a failed start uses no number
#endif
    auto record = std::make_shared<ThreadRecord>();
    record->procedure = procedure;
    record->argument = argument;

    std::lock_guard<std::mutex> guard(threadTableLock);
    std::erase_if(threadTable, [](auto& r) { return r->ended.load(std::memory_order_acquire); });
    record->number = lastThreadNumber + 1;

    auto* handoff = new std::shared_ptr<ThreadRecord>(record);
    if (!PortStartThread(ThreadTrampoline, handoff, stackBytes)) {
        delete handoff;
        return 0;
    }
    lastThreadNumber = record->number;
    threadTable.push_back(record);
    return record->number;
}

int32_t ThreadStart(ThreadProcedure procedure, void* argument) {
    return ThreadStartWithStack(procedure, argument, 0);
}

int32_t ThreadRunning(int32_t thread) {
    if (thread <= 0) return 0;
    auto record = FindThread(thread);
    return record && !record->ended.load(std::memory_order_acquire) ? 1 : 0;
}

void ThreadKill(int32_t thread) {
    auto record = FindThread(thread);
    if (!record) return;
    record->stopRequested.store(true, std::memory_order_release);
    // A short poll rather than a condition variable: the abandon flag is set from a signal
    // handler, which may not notify.
    while (!record->ended.load(std::memory_order_acquire) &&
           !record->abandoned.load(std::memory_order_acquire)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ForgetThread(thread);
}

void ThreadRequestStop(int32_t thread) {
    if (auto record = FindThread(thread))
        record->stopRequested.store(true, std::memory_order_release);
}

bool ThreadStopRequested() {
    return currentThread && currentThread->stopRequested.load(std::memory_order_acquire);
}

void ThreadAbandon() {
    if (currentThread) currentThread->abandoned.store(true, std::memory_order_release);
}

// ---- Lock ----------------------------------------------------------------------------------

struct Lock {
    std::mutex mutex;
};

Lock* LockCreate() { return new Lock; }
void LockAcquire(Lock* lock) { lock->mutex.lock(); }
void LockRelease(Lock* lock) { lock->mutex.unlock(); }
bool LockTry(Lock* lock) { return lock->mutex.try_lock(); }

// ---- Clock ---------------------------------------------------------------------------------

int64_t ClockNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

uint32_t TickMilliseconds() { return static_cast<uint32_t>(ClockNanoseconds() / 1000000); }

void SleepMilliseconds(int32_t milliseconds) {
    // sleep_for sleeps again for what is left when a signal interrupts it.
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- Texts ---------------------------------------------------------------------------------

namespace {

constexpr size_t TEXT_AREA_START = 16;
constexpr size_t TEXT_AREA_SLACK = 16384;

// One per thread. Texts are stacked at its end; the space of the text on top goes back when it
// ends, and all of it once no text is left.
struct TextArea {
    char* data = nullptr;
    size_t capacity = 0;
    size_t used = 0;
    int32_t live = 0;
    int32_t growths = 0;
    ~TextArea() { std::free(data); }
};
thread_local TextArea textArea;

void MakeTextArea() {
    if (textArea.data) return;
    textArea.data = static_cast<char*>(std::calloc(1, TEXT_AREA_START));
    textArea.capacity = textArea.data ? TEXT_AREA_START : 0;
}

void FreeTextArea() {
    std::free(textArea.data);
    textArea = TextArea{};
}

// Room for length more bytes; a piece that points into the old area is moved with it. False
// when no memory could be had.
bool ReserveText(size_t length, std::string_view* pieces, size_t pieceCount) {
    MakeTextArea();
    if (textArea.used + length <= textArea.capacity) return true;
    size_t capacity = textArea.used + length + TEXT_AREA_SLACK;
    char* grown = static_cast<char*>(std::malloc(capacity));
    if (!grown) return false;
    if (textArea.used) std::memcpy(grown, textArea.data, textArea.used);
    for (size_t i = 0; i < pieceCount; ++i) {
        const char* at = pieces[i].data();
        if (at >= textArea.data && at < textArea.data + textArea.capacity)
            pieces[i] = std::string_view(grown + (at - textArea.data), pieces[i].size());
    }
    std::free(textArea.data);
    textArea.data = grown;
    textArea.capacity = capacity;
    ++textArea.growths;
    return true;
}

}  // namespace

Text MakeText(size_t length) {
    Text text;
    text.offset_ = textArea.used;
    text.length_ = length;
    text.held_ = true;
    textArea.used += length;
    ++textArea.live;
    return text;
}

Text::Text(Text&& other) noexcept
    : offset_(other.offset_), length_(other.length_), held_(other.held_) {
    other.held_ = false;
    other.length_ = 0;
}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        Release();
        offset_ = other.offset_;
        length_ = other.length_;
        held_ = other.held_;
        other.held_ = false;
        other.length_ = 0;
    }
    return *this;
}

Text::~Text() { Release(); }

const char* Text::data() const { return held_ ? textArea.data + offset_ : ""; }

void Text::Release() {
    if (!held_) return;
    held_ = false;
    if (offset_ + length_ == textArea.used) textArea.used = offset_;
    if (--textArea.live == 0) textArea.used = 0;
}

Text TextJoin(std::initializer_list<std::string_view> texts) {
    constexpr size_t MOST_PIECES = 16;
    std::string_view pieces[MOST_PIECES];
    size_t count = 0, length = 0;
    for (auto text : texts) {
        if (count == MOST_PIECES) break;  // the program joins at most a handful
        pieces[count++] = text;
        length += text.size();
    }
    if (!ReserveText(length, pieces, count)) return Text{};
    char* at = textArea.data + textArea.used;
    for (size_t i = 0; i < count; ++i) {
        if (!pieces[i].empty()) std::memcpy(at, pieces[i].data(), pieces[i].size());
        at += pieces[i].size();
    }
    return MakeText(length);
}

Text DecimalText(int32_t number) {
    char digits[12];
    auto result = std::to_chars(digits, digits + sizeof digits, number);
    return TextJoin({std::string_view(digits, static_cast<size_t>(result.ptr - digits))});
}

int32_t TextAreaGrowths() { return textArea.growths; }
size_t TextAreaCapacity() { return textArea.capacity; }

// ---- Program end ---------------------------------------------------------------------------

namespace {
std::atomic<void (*)()> shutdownSteps[SHUTDOWN_STAGE_COUNT];

void DropThreadRecords() {
    std::lock_guard<std::mutex> guard(threadTableLock);
    threadTable.clear();
}
}  // namespace

void SetShutdownStep(ShutdownStage stage, void (*step)()) {
    if (stage >= 0 && stage < SHUTDOWN_STAGE_COUNT) shutdownSteps[stage].store(step);
}

void EndProgram() {
    for (int stage = 0; stage < SHUTDOWN_STAGE_COUNT; ++stage) {
        if (stage == SHUTDOWN_THREADS) DropThreadRecords();
        if (auto step = shutdownSteps[stage].load()) step();
    }
    std::fflush(nullptr);
    std::_Exit(0);
}

// ---- Quit requests -------------------------------------------------------------------------

namespace {
// Only lock-free atomics: the handler may run on any thread at any moment.
std::atomic<bool> quitRequested{false};
std::atomic<void (*)(int)> quitInterceptor{nullptr};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnQuitSignal(int signal) {
    int saved = errno;
    if (auto interceptor = quitInterceptor.load()) interceptor(signal);
    quitRequested.store(true);
    errno = saved;
}
}  // namespace

bool WatchQuitRequests() { return PortWatchQuitRequests(OnQuitSignal); }

bool QuitRequested() { return quitRequested.load(); }

void SetQuitInterceptor(void (*interceptor)(int signal)) { quitInterceptor.store(interceptor); }
