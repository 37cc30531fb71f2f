// Recording the direct search's steps through its observer, for the tools that show them.

#include "analysis/analysis.h"

namespace {
void Record(const SearchEvent& event, void* trace) { static_cast<std::vector<SearchEvent>*>(trace)->push_back(event); }
}  // namespace

void StartSearchTrace(std::vector<SearchEvent>* trace) {
    trace->clear();
    SetSearchObserver(Record, trace);
}

void StopSearchTrace() { SetSearchObserver(nullptr, nullptr); }
