// Systems where the bench does not run other programs: the whole-process rows are left out.
#include "tools/bench_process.h"

bool RunProcess(const std::vector<std::string>&, ProcessRun*) { return false; }

std::string BenchFolder() { return ""; }
