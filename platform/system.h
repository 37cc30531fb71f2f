// Threads and the lock, the millisecond clock, texts, and the end of the program.
// Every function here may be called from any thread unless it says otherwise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

// ---- Threads -------------------------------------------------------------------------------

using ThreadProcedure = void (*)(void* argument);

// Starts a thread running procedure(argument) with the default stack. Returns its number
// (1, 2, 3 … in order of successful starts, never reused) or 0 when no thread could be started.
// Records of threads that have ended are forgotten first. Every started thread gets an
// alternate signal stack of its own, so a fault report can run even after a stack overflow.
int32_t ThreadStart(ThreadProcedure procedure, void* argument);
// The same with a stack of the given size (at least the system minimum).
int32_t ThreadStartWithStack(ThreadProcedure procedure, void* argument, size_t stackBytes);
#if PFAD_CHECKS
// Test seam, in builds with checks only: the count-th thread start from now on (ThreadStart or
// ThreadStartWithStack, on any thread) fails as if no thread could be had, once. 0 disarms.
void FailThreadStart(int32_t count);
#endif
// Non-zero while the thread runs; 0 once its procedure has returned, and for 0, unknown or
// forgotten numbers. Never waits. Once it answers 0, everything the thread wrote is visible.
int32_t ThreadRunning(int32_t thread);
// Stops a thread: asks it to stop (see ThreadStopRequested) and returns once its procedure has
// returned, so it can no longer touch what it was given; the record is forgotten. Returns at
// once for an ended or unknown thread, and for a thread that has abandoned itself. Threads are
// never killed by force: that would leave locks held and memory half built.
void ThreadKill(int32_t thread);
// Asks a thread to stop (see ThreadStopRequested) and returns at once; ThreadRunning tells
// when it has. For callers that may not wait, such as a browser's main thread.
void ThreadRequestStop(int32_t thread);
// True when a stop of the calling thread was asked for. Cheap: one relaxed-acquire load.
bool ThreadStopRequested();
// Marks the calling thread as one that will never honour a stop again (it is blocked in the
// fault report); ThreadKill then stops waiting for it. Async-signal-safe.
void ThreadAbandon();
// Gives the calling thread what the fault report needs to run after a stack overflow (an
// alternate signal stack, or stack kept in reserve) if it has none yet; the main thread calls
// it at start-up, started threads get it automatically.
void ThreadInstallSignalStack();

// ---- Lock ----------------------------------------------------------------------------------

struct Lock;
// A new, free lock; kept for the rest of the program.
Lock* LockCreate();
// Waits without a time-out until the lock is free, then holds it.
void LockAcquire(Lock* lock);
// Frees the lock held by the calling thread.
void LockRelease(Lock* lock);
// Takes the lock if it is free; true when it was taken (tests use it to check the lock is free).
bool LockTry(Lock* lock);

// ---- Clock ---------------------------------------------------------------------------------

// Milliseconds of the monotonic clock, wrapping after 2^32; only differences are meaningful.
uint32_t TickMilliseconds();
// Nanoseconds of the same clock; only differences are meaningful.
int64_t ClockNanoseconds();
// The calling thread sleeps at least that long.
void SleepMilliseconds(int32_t milliseconds);

// ---- Texts ---------------------------------------------------------------------------------
// Texts are 8-bit Windows-1252 strings. TextJoin and DecimalText build them in the calling
// thread's work area, which starts at 16 bytes and grows to what a text needs plus 16384
// bytes when it falls short; so building the frame's texts asks for no memory once the first
// frame is drawn. A Text gives its space back when it ends; it is read on the thread that
// made it, and texts end in the reverse order of their making, as temporaries and locals do.

class Text {
  public:
    Text() = default;
    Text(Text&& other) noexcept;
    Text& operator=(Text&& other) noexcept;
    Text(const Text&) = delete;
    Text& operator=(const Text&) = delete;
    ~Text();

    const char* data() const;
    size_t size() const { return length_; }
    operator std::string_view() const { return {data(), length_}; }
    operator std::string() const { return std::string(data(), length_); }
    bool operator==(std::string_view other) const { return std::string_view(*this) == other; }

  private:
    friend Text MakeText(size_t length);
    void Release();
    size_t offset_ = 0;
    size_t length_ = 0;
    bool held_ = false;
};

// The texts one after the other; pieces may be texts of this thread's work area.
Text TextJoin(std::initializer_list<std::string_view> texts);
// The number in decimal: "-" for negatives, no plus sign, no leading zeros, "0" for zero.
Text DecimalText(int32_t number);
// How often the calling thread's work area has grown, and its size; for tests.
int32_t TextAreaGrowths();
size_t TextAreaCapacity();

// Windows-1252 bytes as UTF-8 (for window titles and message boxes).
std::string Windows1252ToUtf8(std::string_view text);
// The Unicode code point of one Windows-1252 byte (for the glyph lookup).
uint32_t Windows1252CodePoint(uint8_t byte);

// ---- Program end ---------------------------------------------------------------------------

// The services EndProgram closes, in its order. Each service registers its own close step
// when it opens, so the platform layer does not depend on who provides them.
enum ShutdownStage {
    SHUTDOWN_WINDOWS,
    SHUTDOWN_THREADS,  // built in: drops all thread records, waits for none
    SHUTDOWN_FAULT_HANDLER,
    SHUTDOWN_MOUSE,
    SHUTDOWN_KEYBOARD,
    SHUTDOWN_SURFACE,
    SHUTDOWN_FILES,
    SHUTDOWN_STAGE_COUNT
};
void SetShutdownStep(ShutdownStage stage, void (*step)());
// Runs the close steps in stage order, flushes standard output and error, and ends the process
// with status 0 without running static destructors (a worker may still be reading the walls).
[[noreturn]] void EndProgram();

// ---- Quit requests -------------------------------------------------------------------------
// SIGINT and SIGTERM only note a request; the frame loop's thread acts on it with EndProgram,
// between two frames, where closing the window and the display is safe. Start-up never sees
// its services torn down under it.

// Process-wide settings the program relies on, made once at start-up: a file size limit fails
// a save instead of ending the process.
void PrepareProcess();

// Installs the quit handlers; the first thing main does. Before it the default action ends
// the process. False when a handler could not be installed.
bool WatchQuitRequests();
// True once SIGINT or SIGTERM has arrived (and stays true). Async-signal-safe.
bool QuitRequested();
// A procedure the quit handler runs first, on whichever thread the signal arrived; it must be
// async-signal-safe and may end the process itself (the fault report does, while its box is
// open). nullptr for none.
void SetQuitInterceptor(void (*interceptor)(int signal));
