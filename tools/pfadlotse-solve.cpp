// pfadlotse-solve: what the window would show for a scene file, without a window.
// Each file is loaded into the start-up scene as F6 loads it, one path job runs to its end,
// and one line of JSON gives its status, statistics and path; on request also the shortest
// path over the same waypoints and the search's steps.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "analysis/analysis.h"
#include "app/scene_file.h"
#include "pathsearch/pathsearch.h"
#include "pathsearch/pathsearch_internal.h"
#include "pathsearch/shared_state.h"
#include "tools/scenario_run.h"

namespace {

const char* USAGE =
    "usage: pfadlotse-solve [--optimal [--budget-nodes N] [--budget-ms MS]] [--trace] FILE...\n"
    "\n"
    "For each scene file (as saved with F5): start from the start-up scene, load the file as\n"
    "F6 does, compute the path and print one line of JSON:\n"
    "  "
    "{\"file\":NAME,\"status\":1|-1,\"collisionChecks\":N,\"nodeCount\":N,\"timeMs\":N,\"path\":[["
    "x,y],...]}\n"
    "status -1 means the goal is unreachable (path []). When memory runs out for a file, its\n"
    "line is {\"file\":NAME,\"status\":-2,\"error\":\"out of memory\"} and nothing else: there is\n"
    "no answer then, never a partial one. Coordinates are the shortest decimals\n"
    "that read back to the same 32-bit floats; NaN and infinities are written as the strings\n"
    "\"NaN\", \"Infinity\" and \"-Infinity\".\n"
    "\n"
    "--optimal  also find the shortest path over the same waypoints (start, goal, every wall's\n"
    "           two corner points) whose every segment passes the search's own wall test, and\n"
    "           add \"length\" (the path's, null when unreachable), \"optimalStatus\" (1 found,\n"
    "           -1 no way, 0 budget spent), \"optimalLength\", \"gap\" (length / optimalLength - "
    "1;\n"
    "           null unless both were found), \"optimalPath\" and \"optimalTimeMs\".\n"
    "--budget-nodes N  give up the optimum after N expanded nodes (default: no limit)\n"
    "--budget-ms MS    give up the optimum after MS milliseconds (default 10000; 0: no limit)\n"
    "--trace    add \"trace\", the search's steps in order:\n"
    "             {\"test\":[FROM,TO],\"wall\":I}  a segment tested; I the nearest wall hit, as\n"
    "                                         its place in the file (0 the first), or -1\n"
    "             {\"node\":P,\"from\":Q,\"cost\":C}  a corner node made at P, linked to Q\n"
    "             {\"better\":P,\"from\":Q,\"cost\":C} a cheaper way to P, now through Q\n"
    "             {\"goal\":P,\"from\":Q,\"cost\":C}   the goal reached for the first time\n"
    "             {\"shortcut\":P,\"from\":Q,\"cost\":C} P linked past its predecessor to Q\n"
    "\n"
    "Exit status: 0 all files solved, 1 a file could not be read or its search not started\n"
    "(the others are still solved), 2 bad arguments, 3 memory ran out for a file (and no\n"
    "file failed otherwise).\n";

template <class Number>
void AppendNumber(std::string& out, Number value) {
    if (std::isnan(value)) {
        out += "\"NaN\"";
    } else if (std::isinf(value)) {
        out += value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    } else {
        char digits[32];
        auto result = std::to_chars(digits, digits + sizeof digits, value);
        out.append(digits, result.ptr);
    }
}

// The length of the valid UTF-8 sequence at text, or 0 when there is none.
size_t Utf8Length(std::string_view text) {
    auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char lead = byte(0);
    size_t length = lead >= 0xF0 && lead <= 0xF4   ? 4
                    : lead >= 0xE0                 ? 3
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                                                   : 0;
    if (length == 0 || text.size() < length) return 0;
    for (size_t i = 1; i < length; ++i)
        if ((byte(i) & 0xC0) != 0x80) return 0;
    unsigned char second = byte(1);
    if (lead == 0xE0 && second < 0xA0) return 0;   // overlong
    if (lead == 0xED && second >= 0xA0) return 0;  // surrogate
    if (lead == 0xF0 && second < 0x90) return 0;   // overlong
    if (lead == 0xF4 && second >= 0x90) return 0;  // beyond U+10FFFF
    return length;
}

// A file name is bytes; bytes that are not UTF-8 are written as the Latin-1 characters of
// the same number, so the line stays valid JSON.
void AppendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char escape[8];
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else if (c >= 0x80) {
            size_t length = Utf8Length(text.substr(i));
            if (length > 0) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
        ++i;
    }
    out += '"';
}

void AppendPoint(std::string& out, const Vec2& point) {
    out += '[';
    AppendNumber(out, point.x);
    out += ',';
    AppendNumber(out, point.y);
    out += ']';
}

void AppendPoints(std::string& out, const std::vector<Vec2>& points) {
    out += '[';
    for (size_t i = 0; i < points.size(); ++i) {
        if (i > 0) out += ',';
        AppendPoint(out, points[i]);
    }
    out += ']';
}

void AppendTrace(std::string& out, const std::vector<SearchEvent>& trace) {
    out += ",\"trace\":[";
    for (size_t i = 0; i < trace.size(); ++i) {
        const SearchEvent& event = trace[i];
        if (i > 0) out += ',';
        if (event.kind == SEARCH_EVENT_TESTED) {
            out += "{\"test\":[";
            AppendPoint(out, event.from);
            out += ',';
            AppendPoint(out, event.to);
            out += "],\"wall\":" + std::to_string(event.wall) + "}";
            continue;
        }
        const char* kind = event.kind == SEARCH_EVENT_NODE_MADE      ? "node"
                           : event.kind == SEARCH_EVENT_RELINKED     ? "better"
                           : event.kind == SEARCH_EVENT_GOAL_REACHED ? "goal"
                                                                     : "shortcut";
        out += "{\"";
        out += kind;
        out += "\":";
        AppendPoint(out, event.to);
        out += ",\"from\":";
        AppendPoint(out, event.from);
        out += ",\"cost\":";
        AppendNumber(out, event.cost);
        out += '}';
    }
    out += ']';
}

struct Options {
    bool optimal = false;
    bool trace = false;
    ShortestPathBudget budget{0, 10000};
};

// The optimum over the walls now loaded, and how the direct path compares with it.
void AppendOptimal(std::string& out, const Vec2& start, const Vec2& goal,
                   const std::vector<Vec2>* direct, const ShortestPathBudget& budget) {
    std::vector<Wall> copy = CopyWalls(walls);
    uint32_t t0 = TickMilliseconds();
    ShortestPath optimal = FindShortestPath(copy, start, goal, budget);
    uint32_t elapsed = TickMilliseconds() - t0;
    double length = direct ? PathLength(*direct) : 0.0;
    out += ",\"length\":";
    if (direct)
        AppendNumber(out, length);
    else
        out += "null";
    out += ",\"optimalStatus\":" + std::to_string(optimal.status);
    out += ",\"optimalLength\":";
    if (optimal.status == SHORTEST_FOUND)
        AppendNumber(out, optimal.length);
    else
        out += "null";
    out += ",\"gap\":";
    if (direct && optimal.status == SHORTEST_FOUND)
        AppendNumber(out, PathGap(length, optimal.length));
    else
        out += "null";
    out += ",\"optimalPath\":";
    AppendPoints(out, optimal.points);
    out += ",\"optimalTimeMs\":" + std::to_string(elapsed);
}

void ResetToStartUpScene(Vec2& start, Vec2& goal) {
    start = Vec2{50, 340};
    goal = Vec2{750, 340};
    ListClear(walls);
    AddBox(10, 80, 780, 510);
}

enum Outcome { SOLVED, NOT_SOLVED, OUT_OF_MEMORY };

// Solves one file and prints its line; NOT_SOLVED (with the reason on stderr) when it cannot,
// OUT_OF_MEMORY when memory ran out anywhere on the way (the caller prints that line).
Outcome Solve(const char* path, const Options& options) {
    Vec2 start, goal;
    ResetToStartUpScene(start, goal);
    if (!OpenSceneFile(path)) {
        std::error_code missing;
        const char* reason = std::filesystem::exists(path, missing) ? "cannot be loaded"
                                                                    : "No such file or directory";
        std::fprintf(stderr, "pfadlotse-solve: cannot read %s: %s\n", path, reason);
        return NOT_SOLVED;
    }
    // A scene that could not be read whole is not this file's.
    bool outOfMemory = false;
    if (!LoadScene(start, goal, &outOfMemory)) return outOfMemory ? OUT_OF_MEMORY : NOT_SOLVED;

    std::vector<SearchEvent> trace;
    if (options.trace) StartSearchTrace(&trace);
    // The job's worker runs here, on this thread: nothing waits on it, and a thread of its own
    // would cost a process that solves one file more than a small search does (its start, and
    // fresh memory that this thread's freed blocks would have served). A fault in the search
    // ends the program through the fault report, as on the worker.
    PathJob* job = MakePathJobRecord(start, goal);
    if (!job) {
        StopSearchTrace();
        std::fprintf(stderr, "pfadlotse-solve: %s: the search could not be started\n", path);
        return NOT_SOLVED;
    }
    CountWallReader(1);  // as CreatePathJob does; FreePathJob counts it off
    PathJobWorker(job);
    int32_t jobStatus = PathJobStatus(job);
    StopSearchTrace();
    if (jobStatus == PATH_JOB_OUT_OF_MEMORY) {
        FreePathJob(job);
        return OUT_OF_MEMORY;
    }

    // The job is freed before anything here may run out of memory.
    const int32_t checks = PathJobCollisionChecks(job), nodes = PathJobNodeCount(job),
                  ms = PathJobTime(job);
    std::vector<Vec2> direct;
    bool copied = true;
    try {
        if (jobStatus == 1)
            while (NextPathPoint(job)) direct.push_back(*CurrentPathPoint(job));
    } catch (const std::bad_alloc&) {
        copied = false;
    }
    FreePathJob(job);
    if (!copied) return OUT_OF_MEMORY;

    std::string line = "{\"file\":";
    AppendJsonString(line, path);
    line += ",\"status\":" + std::to_string(jobStatus);
    line += ",\"collisionChecks\":" + std::to_string(checks);
    line += ",\"nodeCount\":" + std::to_string(nodes);
    line += ",\"timeMs\":" + std::to_string(ms);
    line += ",\"path\":";
    AppendPoints(line, direct);
    if (options.optimal)
        AppendOptimal(line, start, goal, jobStatus == 1 ? &direct : nullptr, options.budget);
    if (options.trace) AppendTrace(line, trace);
    line += "}\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    return SOLVED;
}

// Solve, with memory running out anywhere in it (the file's bytes, the line, the optimum)
// told as such instead of ending the program.
Outcome SolveOrSayOutOfMemory(const char* path, const Options& options) {
    Outcome outcome;
    try {
        outcome = Solve(path, options);
    } catch (const std::bad_alloc&) {
        outcome = OUT_OF_MEMORY;
    }
    if (outcome == OUT_OF_MEMORY) {
        // A name that cannot even be spelt out for want of memory is written as null.
        std::fputs("{\"file\":", stdout);
        std::string name;
        try {
            AppendJsonString(name, path);
        } catch (const std::bad_alloc&) {
            name = "null";
        }
        std::fputs(name.c_str(), stdout);
        std::fputs(",\"status\":-2,\"error\":\"out of memory\"}\n", stdout);
        std::fflush(stdout);
        std::fprintf(stderr, "pfadlotse-solve: %s: out of memory\n", path);
    }
    return outcome;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> files;
    Options options;
    ScenarioRunOptions scenario;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view argument = argv[i];
        if (!optionsEnded && (argument == "--help" || argument == "-h")) {
            std::fputs(USAGE, stdout);
            std::printf("\n%s", SCENARIO_USAGE);
            return 0;
        }
        if (!optionsEnded && (argument == "--budget-nodes" || argument == "--budget-ms")) {
            int64_t value = -1;
            const char* text = i + 1 < argc ? argv[i + 1] : "";
            auto parsed = std::from_chars(text, text + std::strlen(text), value);
            if (*text == '\0' || parsed.ec != std::errc{} || *parsed.ptr != '\0' || value < 0) {
                std::fprintf(stderr, "pfadlotse-solve: %s needs a whole number of 0 or more\n\n%s",
                             argv[i], USAGE);
                return 2;
            }
            (argument == "--budget-nodes" ? options.budget.maxExpanded
                                          : options.budget.maxMilliseconds) = value;
            ++i;
        } else if (!optionsEnded && ScenarioOption(argc, argv, &i, &scenario)) {
            if (i < 0) return 2;
        } else if (!optionsEnded && argument == "--optimal") {
            options.optimal = true;
        } else if (!optionsEnded && argument == "--trace") {
            options.trace = true;
        } else if (!optionsEnded && argument == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
            std::fprintf(stderr, "pfadlotse-solve: unknown option %s\n\n%s", argv[i], USAGE);
            return 2;
        } else {
            files.push_back(argv[i]);
        }
    }
    if (!scenario.scenario.empty() || scenario.modeOptions) {
        scenario.optimal = options.optimal;
        scenario.budget = options.budget;
        return RunScenarioFromArguments(scenario, !files.empty() || options.trace);
    }
    if (files.empty()) {
        std::fputs(USAGE, stderr);
        return 2;
    }

    if (!CreateSharedState()) {
        std::fputs("pfadlotse-solve: out of memory\n", stderr);
        return 1;
    }
    bool notSolved = false, outOfMemory = false;
    for (const char* file : files) {
        Outcome outcome = SolveOrSayOutOfMemory(file, options);
        notSolved |= outcome == NOT_SOLVED;
        outOfMemory |= outcome == OUT_OF_MEMORY;
    }
    return notSolved ? 1 : outOfMemory ? 3 : 0;
}
