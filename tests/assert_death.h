// Death tests of PFAD_ASSERT: a statement that breaks a precondition must stop the program with
// the assert's line, which names what was expected.
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <string>

// The assert ends the child on a breakpoint trap; its core file would only litter the folder.
inline void NoCoreFile() {
    rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

// Expects statement to fail an assert whose message contains fix (an extended regex). The
// child is a fresh run of the test up to the statement: our workers may already be running.
#define EXPECT_ASSERT_FAILS(statement, fix)                  \
    do {                                                     \
        GTEST_FLAG_SET(death_test_style, "threadsafe");      \
        EXPECT_DEATH(                                        \
            {                                                \
                NoCoreFile();                                \
                statement;                                   \
            },                                               \
            std::string("Assertion failed: .* — ") + (fix)); \
    } while (0)
