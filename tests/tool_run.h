// Runs a command line as a user runs one of our tools: what it wrote to standard output and to
// standard error, and how it ended.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

struct ToolRun {
    int exitCode = -1;  // -1 when it did not end by itself
    std::string out;
    std::string err;
};

inline ToolRun RunTool(const std::string& command) {
    ToolRun run;
    char errPath[] = "/tmp/pfad-tool-stderr-XXXXXX";
    int errFile = mkstemp(errPath);
    if (errFile < 0) return run;
    close(errFile);
    FILE* pipe = popen((command + " 2>" + errPath).c_str(), "r");
    if (pipe) {
        char buffer[4096];
        size_t got;
        while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
        int status = pclose(pipe);
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream err(errPath, std::ios::binary);
        run.err.assign(std::istreambuf_iterator<char>(err), {});
    }
    std::remove(errPath);
    return run;
}
