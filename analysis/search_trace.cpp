// Recording the direct search's steps in the trace it fills, for the tools that show them.

#include "analysis/analysis.h"

void StartSearchTrace(std::vector<SearchEvent>* trace) {
    trace->clear();
    SetSearchTrace(trace);
}

void StopSearchTrace() { SetSearchTrace(nullptr); }
