// Running another program and measuring it, for the bench's whole-process rows. Ported per
// system (bench_process_posix.cpp; elsewhere bench_process_none.cpp says it cannot).
#pragma once

#include <string>
#include <vector>

struct ProcessRun {
    int exitStatus = -1;
    double wallMs = 0;   // from the start to the end of the child
    double cpuMs = 0;    // the child's user and system time
    double peakMb = 0;   // the child's peak resident memory
    std::string output;  // what it wrote to standard output
};

// Runs the program with the arguments, its standard output collected; false when it could not
// be run (or this system cannot run programs from the bench).
bool RunProcess(const std::vector<std::string>& command, ProcessRun* run);
// The folder the bench's own program lies in (the solvers lie beside it); empty when unknown.
std::string BenchFolder();
