// The process's peak resident memory, for the benches' rows (Linux's /proc; 0 elsewhere).
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>

// Starts a new peak from the memory resident now.
inline void ResetPeakMemory() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
}

// The peak since the last reset, in MB; 0 where the system does not say.
inline double PeakMemoryMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}
