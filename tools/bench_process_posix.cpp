// Running a program for the bench on a POSIX system: its output through a pipe, its times from
// wait4, its peak memory read from the child itself as it exits.
//
// The peak cannot come from wait4: a child begins as a copy of the bench (or, spawned, in the
// bench's memory), and the kernel keeps the larger of that and the program's own peak. So the
// child is traced, stopped only at its exec and at its exit, and at the exit its own high-water
// mark is read from /proc before its memory is gone.
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "tools/bench_process.h"

extern char** environ;

namespace {

// VmHWM of a stopped child, in megabytes; -1 when it cannot be read.
double HighWaterMb(pid_t child) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(child));
    FILE* file = std::fopen(path, "r");
    if (!file) return -1;
    double mb = -1;
    char line[256];
    while (std::fgets(line, sizeof line, file))
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            mb = std::strtod(line + 6, nullptr) / 1024.0;
            break;
        }
    std::fclose(file);
    return mb;
}

}  // namespace

bool RunProcess(const std::vector<std::string>& command, ProcessRun* run) {
    int pipeEnds[2];
    if (command.empty() || pipe(pipeEnds) != 0) return false;
    std::vector<char*> arguments;
    for (const std::string& argument : command)
        arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    auto start = std::chrono::steady_clock::now();
    // vfork: a bench holding a million walls is not copied for each run. The child only makes
    // system calls before its exec.
    pid_t child = vfork();
    if (child == 0) {
        ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);
        dup2(pipeEnds[1], STDOUT_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execve(arguments[0], arguments.data(), environ);
        _exit(127);
    }
    close(pipeEnds[1]);
    if (child < 0) {
        close(pipeEnds[0]);
        return false;
    }
    // The output is read beside the waiting: the child stops at its exit with the pipe open.
    run->output.clear();
    std::thread reader([&] {
        char buffer[65536];
        for (ssize_t got; (got = read(pipeEnds[0], buffer, sizeof buffer)) != 0;) {
            if (got > 0)
                run->output.append(buffer, static_cast<size_t>(got));
            else if (errno != EINTR)
                break;
        }
    });
    run->peakMb = -1;
    int status = 0;
    rusage usage{};
    bool execStopSeen = false;
    for (;;) {
        if (wait4(child, &status, 0, &usage) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (!WIFSTOPPED(status)) break;
        int signal = WSTOPSIG(status);
        if (!execStopSeen && signal == SIGTRAP) {
            execStopSeen = true;
            ptrace(PTRACE_SETOPTIONS, child, nullptr,
                   reinterpret_cast<void*>(PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL));
            signal = 0;
        } else if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            run->peakMb = HighWaterMb(child);
            signal = 0;
        }
        ptrace(PTRACE_CONT, child, nullptr, reinterpret_cast<void*>(static_cast<intptr_t>(signal)));
    }
    reader.join();
    close(pipeEnds[0]);
    if (!execStopSeen) return false;  // it never ran: no program there, or exec refused
    run->wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    auto ms = [](const timeval& time) { return time.tv_sec * 1e3 + time.tv_usec / 1e3; };
    run->cpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    run->exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return true;
}

std::string BenchFolder() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : self.parent_path().string();
}
