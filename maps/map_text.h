// What the map readers share: lines with their numbers, fields, strict numbers and the
// "FILE:LINE: problem" text of a refusal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TextLines {
    std::string_view text;
    size_t position = 0;
    int32_t number = 0;  // of the line Next gave last

    // The next line without its '\n' and a '\r' before it; false at the end of the text.
    bool Next(std::string_view* line);
    // Like Next, but passes over lines that hold only blanks.
    bool NextFilled(std::string_view* line);
};

// The fields of a line split at runs of blanks (spaces and tabs).
std::vector<std::string_view> SplitBlanks(std::string_view line);
// The line split at each tab, every field trimmed of blanks.
std::vector<std::string_view> SplitTabs(std::string_view line);
std::string_view TrimBlanks(std::string_view text);

// The whole field as a decimal integer within [low, high].
bool ParseInteger(std::string_view field, int64_t low, int64_t high, int64_t* value);
// The whole field as a finite decimal number.
bool ParseNumber(std::string_view field, double* value);

std::string Problem(const std::string& file, int32_t line, const std::string& what);
