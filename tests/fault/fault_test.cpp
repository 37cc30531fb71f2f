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

#include "fault/fault_record.h"

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
    bool recorded = false;         // the report reached the recorder while the child ran
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
        StartProgram(FAULT_DRIVER, mode, thread, std::move(environment));
    }

    void StartProgram(const std::string& program, const std::string& mode,
                      const std::string& thread,
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
            execl(program.c_str(), program.c_str(), mode.c_str(), thread.c_str(),
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
    {"assert", FAULT_BREAKPOINT, SIGTRAP},
    {"inline", FAULT_ACCESS_VIOLATION, SIGSEGV},
    {"library", FAULT_ACCESS_VIOLATION, SIGSEGV},
    {"tail", FAULT_ACCESS_VIOLATION, SIGSEGV},
    {"fault-code", FAULT_ACCESS_VIOLATION, SIGSEGV},
};

#ifdef PFAD_UBSAN
// UBSan stops a deliberate null access or division by zero before the processor faults.
#define SKIP_UNDER_UBSAN() GTEST_SKIP() << "UBSan reports this deliberate fault first"
bool UbsanCatchesFirst(const std::string& mode) {
    return mode == "null-store" || mode == "divide" || mode == "geometry" || mode == "inline" ||
           mode == "fault-code";
}
#else
#define SKIP_UNDER_UBSAN() (void)0
bool UbsanCatchesFirst(const std::string&) { return false; }
#endif

class FaultTable : public testing::TestWithParam<std::tuple<FaultCase, const char*>> {};

TEST_P(FaultTable, ReportsOnceWithKindLineAndAddressThenEndsBySignal) {
    auto [fault, thread] = GetParam();
#ifdef PFAD_SANITIZED
    // The sanitizer's wrapper of the C library leaves earlier return addresses in its frame.
    if (std::string(fault.mode) == "library" || std::string(fault.mode) == "tail")
        GTEST_SKIP() << "the C library is wrapped";
#endif
    if (UbsanCatchesFirst(fault.mode)) SKIP_UNDER_UBSAN();
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
    if (std::string(fault.mode) == "assert") {
        file = "geometry/line2d.cpp";
        line = LineContaining("geometry/line2d.cpp", "PFAD_ASSERT(WallReaderCount() == 0");
        ASSERT_GT(line, 0);
        // The assert says what went wrong before the report's lines.
        std::string said =
            "geometry/line2d.cpp:" + std::to_string(line) +
            ": Assertion failed: WallReaderCount() == 0 — AddWall while a path job exists";
        size_t at = run.err.find(said);
        EXPECT_NE(at, std::string::npos) << run.err;
        EXPECT_LT(at, run.err.find("Typ: ")) << run.err;
    }
    std::string expected =
        Kind(fault.kind) + "\nFile: " + file + "   Line: " + std::to_string(line) + "\nMemory: ";
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

INSTANTIATE_TEST_SUITE_P(EveryKindOnEitherThread, FaultTable,
                         testing::Combine(testing::ValuesIn(FAULTS),
                                          testing::Values("main", "worker")),
                         [](const testing::TestParamInfo<FaultTable::ParamType>& info) {
                             std::string name = std::string(std::get<0>(info.param).mode) + "_on_" +
                                                std::get<1>(info.param);
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

// ---- One reporter, and what may not hang ---------------------------------------------------

TEST(FaultReport, TwoThreadsFaultingAtOnceGiveOneReport) {
    SKIP_UNDER_UBSAN();
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
    SKIP_UNDER_UBSAN();
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
    SKIP_UNDER_UBSAN();
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

// The processes whose environment holds the tag: what a test's child left running.
std::vector<pid_t> ProcessesTagged(const std::string& tag) {
    std::vector<pid_t> found;
    std::string wanted = "FAULT_TEST_TAG=" + tag;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        pid_t pid = std::atoi(entry.path().filename().c_str());
        if (pid <= 0) continue;
        std::string environment = ReadFile(entry.path() / "environ");
        std::string status = ReadFile(entry.path() / "stat");
        // A zombie is gone already; only its parent has not looked yet.
        size_t close = status.rfind(')');
        if (close != std::string::npos && close + 2 < status.size() && status[close + 2] == 'Z')
            continue;
        for (size_t at = 0; at < environment.size();) {
            size_t end = environment.find('\0', at);
            if (end == std::string::npos) end = environment.size();
            if (environment.compare(at, end - at, wanted) == 0) found.push_back(pid);
            at = end + 1;
        }
    }
    return found;
}

// A stand-in helper: a shell script with the given body, tagged so its leftovers can be found.
fs::path WriteHelper(const Child& child, const std::string& body) {
    fs::path helper = child.Path("helper.sh");
    std::ofstream(helper) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(helper, fs::perms::owner_all);
    return helper;
}

TEST(FaultReport, ATerminateWhileTheBoxIsOpenEndsTheReportWithTheFaultsStatus) {
    SKIP_UNDER_UBSAN();
    for (const char* thread : {"worker", "main"}) {
        Child child;
        std::string tag = child.Path("").string();
        child.OnHold([](pid_t pid) { kill(pid, SIGTERM); });
        child.Start("divide", thread, {{"FAULT_TEST_TAG", tag}});
        // Finish releases the box only after the hold; the terminate must end things first.
        auto began = std::chrono::steady_clock::now();
        ChildRun run = child.Finish();
        ASSERT_TRUE(run.recorded) << run.err;
        EXPECT_TRUE(EndedBySignal(run, SIGFPE)) << thread << ": status " << run.status;
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << thread;
        // Once, from the helper: the program knew the lines were out.
        std::string kind = Kind(FAULT_INTEGER_DIVIDE_BY_ZERO);
        EXPECT_EQ(run.err.find(kind), run.err.rfind(kind)) << run.err;
        std::this_thread::sleep_for(200ms);
        EXPECT_TRUE(ProcessesTagged(tag).empty()) << thread << ": the helper outlived the program";
    }
}

TEST(FaultReport, EndProgramWhileAWorkersBoxIsOpenEndsWithTheFaultsStatus) {
    SKIP_UNDER_UBSAN();
    Child child;
    child.Start("end-during-report", "worker");
    ChildRun run = child.Finish(false);
    ASSERT_TRUE(run.ended) << "the program hangs after EndProgram";
    EXPECT_TRUE(EndedBySignal(run, SIGSEGV)) << run.status;
    EXPECT_LT(run.seconds, 5.0);
    size_t typ = run.err.find("Typ: ");
    EXPECT_NE(typ, std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Typ: ", typ + 1), std::string::npos) << run.err;
}

TEST(FaultReport, AHelperThatNeverShowsItsBoxIsGivenUpAndLeavesNothingBehind) {
    SKIP_UNDER_UBSAN();
    struct Case {
        const char* body;
        bool helperWroteTheLines;
    };
    const Case cases[] = {
        {"exec sleep 60", false},
        // The lines are out, the box is not: the program must not print them a second time.
        {"echo 'Typ: from the helper' >&2\nprintf R >&4\nexec sleep 60", true},
    };
    for (const Case& each : cases) {
        Child child;
        std::string tag = child.Path("").string();
        fs::path helper = WriteHelper(child, each.body);
        child.Start("divide", "worker",
                    {{"FAULT_DRIVER_HELPER", helper.string()},
                     {"PFAD_FAULT_SHOW_LIMIT_MS", "1000"},
                     {"FAULT_TEST_TAG", tag}});
        ChildRun run = child.Finish(false);
        ASSERT_TRUE(run.ended) << "the program waited for the box for good";
        EXPECT_TRUE(EndedBySignal(run, SIGFPE)) << run.status;
        EXPECT_LT(run.seconds, 5.0);
        size_t typ = run.err.find("Typ: ");
        ASSERT_NE(typ, std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Typ: ", typ + 1), std::string::npos) << "reported twice:\n"
                                                                     << run.err;
        EXPECT_EQ(run.err.find("from the helper") != std::string::npos, each.helperWroteTheLines)
            << run.err;
        std::this_thread::sleep_for(200ms);
        EXPECT_TRUE(ProcessesTagged(tag).empty()) << "the helper outlived the program";
    }
}

TEST(FaultReport, AKilledProgramTakesItsHelperWithIt) {
    SKIP_UNDER_UBSAN();
    Child child;
    std::string tag = child.Path("").string();
    child.OnHold([](pid_t pid) {
        kill(pid, SIGKILL);
        std::this_thread::sleep_for(300ms);
    });
    child.Start("null-store", "worker", {{"FAULT_TEST_TAG", tag}});
    ChildRun run = child.Finish();
    ASSERT_TRUE(run.recorded);
    EXPECT_TRUE(EndedBySignal(run, SIGKILL));
    EXPECT_TRUE(ProcessesTagged(tag).empty()) << "the helper outlived the program";
}

TEST(FaultReport, AnExecutableReplacedOnDiskStillGivesTheRunningLine) {
    SKIP_UNDER_UBSAN();
    Child child;
    // A copy of its own, so that replacing it harms nobody else.
    fs::path driver = child.Path("driver");
    fs::copy_file(FAULT_DRIVER, driver);
    fs::permissions(driver, fs::perms::owner_all);
    child.StartProgram(driver.string(), "on-go", "main");
    ASSERT_TRUE(child.WaitForOutput("READY", 10s));
    // What a rebuild does: a new file renamed over the old one.
    fs::path rebuilt = child.Path("driver.new");
    fs::copy_file("/bin/true", rebuilt);
    fs::rename(rebuilt, driver);
    std::ofstream(child.Path("count").string() + ".go") << "go";
    ChildRun run = child.Finish();
    ASSERT_TRUE(run.recorded) << run.err;
    EXPECT_TRUE(EndedBySignal(run, SIGSEGV));
    std::string expected = Kind(FAULT_ACCESS_VIOLATION) +
                           "\nFile: Main Module   Line: " + std::to_string(Said(run.out, "LINE")) +
                           "\nMemory: ";
    EXPECT_EQ(run.record.compare(0, expected.size(), expected), 0) << run.record;
}

// ---- Quit requests -------------------------------------------------------------------------

TEST(QuitRequests, EndThroughEndProgramOnTheFrameLoopsThreadOnceItIsFree) {
    for (int signal : {SIGTERM, SIGINT}) {
        Child child;
        child.Start("quit", "main", {{"FAULT_DRIVER_MARKER", child.Path("marker").string()}});
        ASSERT_TRUE(child.WaitForOutput("READY", 10s));
        kill(child.Pid(), signal);
        // The loop is busy for a second: nobody may tear the program down meanwhile.
        EXPECT_FALSE(child.Wait(400ms)) << "ended while the frame loop was busy";
        ChildRun run = child.Finish(false);
        ASSERT_TRUE(run.ended);
        EXPECT_TRUE(WIFEXITED(run.status) && WEXITSTATUS(run.status) == 0) << run.status;
        EXPECT_EQ(ReadFile(child.Path("marker")), "frame loop");
    }
}

}  // namespace
