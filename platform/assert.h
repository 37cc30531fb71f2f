// PFAD_ASSERT: a broken assumption of our own code stops the program on the line that found it.
//
//   PFAD_ASSERT(condition, "what was expected and what to do");
//
// On in Debug builds and whenever the tests are built (PFAD_CHECKS); in other builds it compiles
// to nothing but still type-checks the condition, which is never evaluated. A failure writes
//   FILE:LINE: Assertion failed: condition — message
// to stderr and stops on a breakpoint trap at the assert itself, so that the fault report (when
// installed) names that line and the kind "BREAKPOINT"; without the report the trap ends the
// process. Safe anywhere, signal handlers and worker threads included.
#pragma once

#ifndef PFAD_CHECKS
#define PFAD_CHECKS 0
#endif

// Writes the failure line with one write(2); async-signal-safe, takes no lock, allocates nothing.
void WriteAssertionFailure(const char* file, int line, const char* condition, const char* message);

#if defined(__x86_64__) || defined(__i386__)
// The line as an operand keeps the optimiser from merging the traps of two asserts, which would
// leave the report one line to name for both.
#define PFAD_BREAKPOINT() __asm__ volatile("int3" ::"i"(__LINE__))
#else
#define PFAD_BREAKPOINT() __builtin_trap()
#endif

#if PFAD_CHECKS
#define PFAD_ASSERT(condition, message)                                     \
    do {                                                                    \
        if (!(condition)) [[unlikely]] {                                    \
            WriteAssertionFailure(__FILE__, __LINE__, #condition, message); \
            PFAD_BREAKPOINT();                                              \
        }                                                                   \
    } while (0)
#else
#define PFAD_ASSERT(condition, message) \
    do {                                \
        (void)sizeof(!(condition));     \
        (void)sizeof(message);          \
    } while (0)
#endif
