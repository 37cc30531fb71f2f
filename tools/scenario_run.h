// pfadlotse-solve --scenario: every query of a benchmark scenario file on its map, the direct
// search's answer beside the file's optimal length.
#pragma once

#include <cstdint>
#include <string>

#include "analysis/analysis.h"
#include "maps/maps.h"

struct ScenarioRunOptions {
    std::string scenario;
    bool optimal = false;  // also our shortest path over the same corner points
    int64_t limit = 0;     // only the first N queries; 0 all
    QueryReference reference = REFERENCE_OCTILE;
    int32_t cell = DEFAULT_CELL;
    double scale = DEFAULT_MESH_SCALE;
    ShortestPathBudget budget{0, 10000};
    bool modeOptions = false;  // an option of this mode was given
};

// When argv[*i] is an option of the scenario mode, takes it (and its value, moving *i past it)
// into options and gives true; *i is -1 then when its value is bad (said on stderr).
bool ScenarioOption(int argc, char** argv, int* i, ScenarioRunOptions* options);
// The scenario mode once the arguments are read: refuses scene files or --trace beside it
// (otherOperands) and a mode option without --scenario, makes the shared search state and
// runs it. Returns the exit status.
int RunScenarioFromArguments(const ScenarioRunOptions& options, bool otherOperands);

// What --help says about the scenario mode.
extern const char* SCENARIO_USAGE;

// Reads the scenario and its maps, refusing the whole run (nothing printed on stdout) when one
// of them is bad, then prints one JSON line per query and a summary line. The shared search
// state must exist. Returns the exit status: 0, 1 a file was refused, 3 memory ran out.
int RunScenario(const ScenarioRunOptions& options);
