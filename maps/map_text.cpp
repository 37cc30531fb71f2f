// Lines, fields and numbers of the map formats, and the files they come in.
#include "maps/map_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "maps/maps.h"
#include "platform/files.h"

bool TextLines::Next(std::string_view* line) {
    if (position >= text.size()) return false;
    size_t end = text.find('\n', position);
    if (end == std::string_view::npos) end = text.size();
    *line = text.substr(position, end - position);
    if (!line->empty() && line->back() == '\r') line->remove_suffix(1);
    position = end + 1;
    ++number;
    return true;
}

bool TextLines::NextFilled(std::string_view* line) {
    while (Next(line))
        if (!TrimBlanks(*line).empty()) return true;
    return false;
}

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> SplitBlanks(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        size_t begin = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        if (i > begin) fields.push_back(line.substr(begin, i - begin));
    }
    return fields;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        size_t tab = line.find('\t');
        fields.push_back(TrimBlanks(line.substr(0, tab)));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

bool ParseInteger(std::string_view field, int64_t low, int64_t high, int64_t* value) {
    const char* end = field.data() + field.size();
    // from_chars takes no '+'; the files never write one either.
    auto parsed = std::from_chars(field.data(), end, *value);
    return !field.empty() && parsed.ec == std::errc{} && parsed.ptr == end && *value >= low &&
           *value <= high;
}

bool ParseNumber(std::string_view field, double* value) {
    // Plain decimals only: strtod alone would also take hex, "inf" and blanks. (strtod, not
    // from_chars: the browser build's library has no floating-point from_chars.)
    if (field.empty() || field.find_first_not_of("0123456789+-.eE") != std::string_view::npos)
        return false;
    std::string text(field);
    char* end = nullptr;
    double parsed = std::strtod(text.c_str(), &end);
    if (end != text.c_str() + text.size() || !std::isfinite(parsed)) return false;
    *value = parsed;
    return true;
}

std::string Problem(const std::string& file, int32_t line, const std::string& what) {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + what : file + ": " + what;
}

bool ReadTextFile(const std::string& path, int64_t maxBytes, std::string* text,
                  std::string* error) {
    FileOpenOutcome outcome;
    std::string reason;
    int64_t size = 0;
    InputFile* file = OpenInputFile(path, maxBytes, &outcome, &reason, &size);
    switch (outcome) {
        case FILE_OPENED:
            break;
        case FILE_MISSING:
            *error = Problem(path, 0, "no such file");
            return false;
        case FILE_UNREADABLE:
            *error = Problem(path, 0, "cannot be opened: " + reason);
            return false;
        case FILE_NOT_REGULAR:
            *error = Problem(path, 0, "not a regular file");
            return false;
        case FILE_TOO_LONG:
            *error = Problem(path, 0, "longer than " + std::to_string(maxBytes) + " bytes");
            return false;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    int64_t got = ReadInputFile(file, bytes.data(), bytes.size());
    CloseInputFile(file);
    if (got < 0) {
        *error = Problem(path, 0, "could not be read");
        return false;
    }
    bytes.resize(static_cast<size_t>(got));
    *text = std::move(bytes);
    return true;
}
