// The fault report end to end in child processes: the driver faults, the real handler and the
// real helper report, and the helper's recorder stands in for the box.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/fault_record.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long long ReadCount(const fs::path& path) {
    long long count = 0;
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(&count), sizeof count);
    return count;
}

// The value after "KEY " in the driver's output, or -1.
long long Said(const std::string& output, const std::string& key) {
    size_t at = output.find(key + " ");
    return at == std::string::npos ? -1 : std::atoll(output.c_str() + at + key.size() + 1);
}

struct ChildRun {
    int status = -1;
    bool ended = false;
    bool recorded = false;  // the report reached the recorder while the child ran
    long long countWhileHeld = 0;  // how far the other thread counted while the report was held
    std::string out, err, record;
    double seconds = 0;
};

class Child {
public:
    Child() {
        char pattern[] = "/tmp/fault_test_XXXXXX";
        dir_ = mkdtemp(pattern);
    }
    ~Child() {
        if (pid_ > 0 && !ended_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    fs::path Path(const char* name) const { return dir_ / name; }

    void Start(const std::string& mode, const std::string& thread,
               std::vector<std::pair<std::string, std::string>> environment = {}) {
        start_ = std::chrono::steady_clock::now();
        pid_ = fork();
        if (pid_ == 0) {
            std::freopen(Path("out").c_str(), "w", stdout);
            std::freopen(Path("err").c_str(), "w", stderr);
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            setenv("PFAD_FAULT_RECORDER", Path("record").c_str(), 1);
            for (auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
            execl(FAULT_DRIVER, FAULT_DRIVER, mode.c_str(), thread.c_str(),
                  Path("count").c_str(), nullptr);
            _exit(99);
        }
    }

    // Waits for the child's end, at most timeout.
    bool Wait(std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                ended_ = true;
                return true;
            }
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // Waits for text in the child's output, at most timeout.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (ReadFile(Path("out")).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // Lets the report be recorded, watches the counting thread while it is held, releases it and
    // waits for the end.
    ChildRun Finish(bool expectRecord = true) {
        ChildRun run;
        auto deadline = std::chrono::steady_clock::now() + 20s;
        while (expectRecord && std::chrono::steady_clock::now() < deadline) {
            if (!ReadFile(Path("record")).empty()) {
                run.recorded = true;
                break;
            }
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                ended_ = true;
                break;
            }
            std::this_thread::sleep_for(5ms);
        }
        if (run.recorded) {
            long long before = ReadCount(Path("count"));
            std::this_thread::sleep_for(200ms);
            run.countWhileHeld = ReadCount(Path("count")) - before;
            if (onHold_) onHold_(pid_);
            std::ofstream(Path("record.release")) << "go";
        }
        run.ended = ended_ || Wait(20s);
        run.status = status_;
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        run.out = ReadFile(Path("out"));
        run.err = ReadFile(Path("err"));
        run.record = ReadFile(Path("record"));
        return run;
    }

    void OnHold(void (*hold)(pid_t)) { onHold_ = hold; }
    pid_t Pid() const { return pid_; }

private:
    fs::path dir_;
    pid_t pid_ = -1;
    int status_ = -1;
    bool ended_ = false;
    void (*onHold_)(pid_t) = nullptr;
    std::chrono::steady_clock::time_point start_;
};

bool EndedBySignal(const ChildRun& run, int signal) {
    return run.ended && WIFSIGNALED(run.status) && WTERMSIG(run.status) == signal;
}

// The line of our source file that contains text (1-based), or 0.
int LineContaining(const char* file, const std::string& text) {
    std::ifstream in(fs::path(PFAD_SOURCE_ROOT) / file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number)
        if (line.find(text) != std::string::npos) return number;
    return 0;
}

std::string Kind(uint32_t kind) { return std::string("Typ: ") + FaultKindText(kind); }

// ---- The fault table -----------------------------------------------------------------------

struct FaultCase {
    const char* mode;
    uint32_t kind;
    int signal;
};

const FaultCase FAULTS[] = {
    {"null-store", FAULT_ACCESS_VIOLATION, SIGSEGV},
    {"divide", FAULT_INTEGER_DIVIDE_BY_ZERO, SIGFPE},
    {"trap", FAULT_ILLEGAL_INSTRUCTION, SIGILL},
    {"int3", FAULT_BREAKPOINT, SIGTRAP},
    {"bus", FAULT_ACCESS_VIOLATION, SIGBUS},
    {"recursion", FAULT_STACK_OVERFLOW, SIGSEGV},
    {"geometry", FAULT_ACCESS_VIOLATION, SIGSEGV},
    {"inline", FAULT_ACCESS_VIOLATION, SIGSEGV},
    {"library", FAULT_ACCESS_VIOLATION, SIGSEGV},
};

class FaultTable : public testing::TestWithParam<std::tuple<FaultCase, const char*>> {};

TEST_P(FaultTable, ReportsOnceWithKindLineAndAddressThenEndsBySignal) {
    auto [fault, thread] = GetParam();
#ifdef PFAD_SANITIZED
    // The sanitizer's wrapper of the C library leaves earlier return addresses in its frame.
    if (std::string(fault.mode) == "library") GTEST_SKIP() << "the C library is wrapped";
#endif
    Child child;
    child.Start(fault.mode, thread);
    ChildRun run = child.Finish();

    ASSERT_TRUE(run.recorded) << run.err;
    EXPECT_TRUE(EndedBySignal(run, fault.signal)) << "status " << run.status;
    EXPECT_GT(run.countWhileHeld, 0) << "the other thread stopped while the report was held";

    std::string file = "Main Module";
    long long line = Said(run.out, "LINE");
    if (std::string(fault.mode) == "geometry") {
        file = "geometry/line2d.cpp";
        line = LineContaining("geometry/line2d.cpp", "ListAppend(walls)");
        ASSERT_GT(line, 0);
    }
    std::string expected = Kind(fault.kind) + "\nFile: " + file + "   Line: " +
                           std::to_string(line) + "\nMemory: ";
    // Exactly one report: the recorder holds one message, nothing before or after it.
    ASSERT_EQ(run.record.compare(0, expected.size(), expected), 0) << run.record;
    std::string address = run.record.substr(expected.size());
    ASSERT_FALSE(address.empty());
    EXPECT_EQ(address.find_first_not_of("-0123456789"), std::string::npos) << run.record;
    if (long long site = Said(run.out, "ADDRESS"); site >= 0) {
        EXPECT_EQ(address, std::to_string(site)) << "the breakpoint's own address";
    }
    // The lines also reach stderr, so a fault without a display is not lost.
    EXPECT_NE(run.err.find(run.record + "\n"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    EveryKindOnEitherThread, FaultTable,
    testing::Combine(testing::ValuesIn(FAULTS), testing::Values("main", "worker")),
    [](const testing::TestParamInfo<FaultTable::ParamType>& info) {
        std::string name = std::string(std::get<0>(info.param).mode) + "_on_" +
                           std::get<1>(info.param);
        for (char& c : name)
            if (c == '-') c = '_';
        return name;
    });

// ---- One reporter, and what may not hang ---------------------------------------------------

TEST(FaultReport, TwoThreadsFaultingAtOnceGiveOneReport) {
    Child child;
    child.Start("both", "main");
    ChildRun run = child.Finish();
    ASSERT_TRUE(run.recorded);
    EXPECT_TRUE(EndedBySignal(run, SIGSEGV));
    std::string kind = Kind(FAULT_ACCESS_VIOLATION) + "\n";
    EXPECT_EQ(run.record.find(kind), 0u);
    EXPECT_EQ(run.record.find(kind, 1), std::string::npos) << run.record;
}

TEST(FaultReport, FaultInsideTheHandlerEndsTheProcessAtOnce) {
    Child child;
    child.Start("handler-fault", "main");
    ChildRun run = child.Finish(false);
    EXPECT_TRUE(EndedBySignal(run, SIGSEGV)) << run.status;
    EXPECT_LT(run.seconds, 5.0);
    EXPECT_TRUE(run.record.empty());
}

TEST(FaultReport, FaultBeforeInstallTakesTheDefaultAction) {
#ifdef PFAD_SANITIZED
    GTEST_SKIP() << "the sanitizer's own handler is the default here";
#endif
    Child child;
    child.Start("before-install", "main");
    ChildRun run = child.Finish(false);
    EXPECT_TRUE(EndedBySignal(run, SIGSEGV));
    EXPECT_TRUE(run.record.empty());
    EXPECT_EQ(run.err.find("Typ:"), std::string::npos);
}

TEST(FaultReport, WithoutTheHelperTheHandlerWritesWhatItKnowsToStderr) {
    Child child;
    child.Start("divide", "worker", {{"FAULT_DRIVER_HELPER", "/nonexistent/helper"}});
    ChildRun run = child.Finish(false);
    EXPECT_TRUE(EndedBySignal(run, SIGFPE));
    EXPECT_NE(run.err.find(Kind(FAULT_INTEGER_DIVIDE_BY_ZERO) +
                           "\nFile: Main Module   Line: 0\nMemory: "),
              std::string::npos)
        << run.err;
}

TEST(FaultReport, ARaisedSignalWithoutFaultCodeIsAnUnknownKind) {
    Child child;
    child.Start("raise-fpe", "main");
    ChildRun run = child.Finish();
    EXPECT_TRUE(EndedBySignal(run, SIGFPE));
    EXPECT_EQ(run.record.find("Typ: UNKNOWN Error\nFile: "), 0u) << run.record;
}

TEST(FaultReport, QuitRequestsAreIgnoredWhileAReportIsOpen) {
    Child child;
    child.OnHold([](pid_t pid) {
        kill(pid, SIGTERM);
        std::this_thread::sleep_for(300ms);
    });
    child.Start("divide", "worker");
    ChildRun run = child.Finish();
    EXPECT_TRUE(EndedBySignal(run, SIGFPE)) << run.status;
}

// ---- Quit requests -------------------------------------------------------------------------

TEST(FaultReportQuit, TerminateEndsThroughEndProgramWithStatusZero) {
    for (int signal : {SIGTERM, SIGINT}) {
        Child child;
        child.Start("quit", "main", {{"FAULT_DRIVER_MARKER", child.Path("marker").string()}});
        ASSERT_TRUE(child.WaitForOutput("READY", 10s));
        kill(child.Pid(), signal);
        ChildRun run = child.Finish(false);
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
        EXPECT_EQ(ReadFile(child.Path("marker")), "watcher");
    }
}

TEST(FaultReportQuit, AFrameLoopThatPollsEndsTheProgramItself) {
    Child child;
    child.Start("quit-polled", "main", {{"FAULT_DRIVER_MARKER", child.Path("marker").string()}});
    ASSERT_TRUE(child.WaitForOutput("READY", 10s));
    kill(child.Pid(), SIGTERM);
    ChildRun run = child.Finish(false);
    ASSERT_TRUE(run.ended);
    EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
    EXPECT_EQ(ReadFile(child.Path("marker")), "frame loop");
}

}  // namespace
