// The line table reader: one pass over the text per question, which is fast enough for the few
// questions a fault report asks.
#include "fault/line_table.h"

namespace {

// A cursor over one line of the table.
struct Cursor {
    const char* at;
    const char* end;

    bool Done() const { return at >= end; }
    void SkipBlanks() {
        while (at < end && *at == ' ') ++at;
    }
    // The rest of the current line, then on to the next.
    void NextLine(const char*& lineEnd) {
        lineEnd = at;
        while (lineEnd < end && *lineEnd != '\n') ++lineEnd;
        at = lineEnd < end ? lineEnd + 1 : end;
    }
    bool Word(const char* word) {
        const char* p = at;
        while (*word && p < end && *p == *word) ++p, ++word;
        if (*word) return false;
        at = p;
        return true;
    }
    // A number in the given base; false when there is none or it overflows.
    bool Number(int base, uint64_t& value) {
        SkipBlanks();
        value = 0;
        const char* start = at;
        while (at < end) {
            char c = *at;
            int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 99;
            if (digit >= base) break;
            if (value > (UINT64_MAX - static_cast<uint64_t>(digit)) / static_cast<uint64_t>(base))
                return false;
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
            ++at;
        }
        return at > start;
    }
};

Cursor Begin(LineTable table) { return {table.text, table.text + table.length}; }

}  // namespace

bool LineTableMatches(LineTable table, const char* buildId) {
    Cursor cursor = Begin(table);
    uint64_t version = 0;
    if (!cursor.Word("pfadlotse-lines") || !cursor.Number(10, version) || version != 2)
        return false;
    cursor.SkipBlanks();
    return *buildId && cursor.Word(buildId) && (cursor.Done() || *cursor.at == '\n');
}

bool LineTableFile(LineTable table, uint32_t index, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    Cursor cursor = Begin(table);
    uint32_t seen = 0;
    const char* lineEnd;
    while (!cursor.Done()) {
        if (!cursor.Word("file ")) {
            cursor.NextLine(lineEnd);
            continue;
        }
        const char* path = cursor.at;
        cursor.NextLine(lineEnd);
        if (seen++ != index) continue;
        size_t length = static_cast<size_t>(lineEnd - path);
        if (length == 0 || length >= capacity) return false;
        for (size_t i = 0; i < length; ++i) out[i] = path[i];
        out[length] = '\0';
        return true;
    }
    return false;
}

bool LineTableLookup(LineTable table, uint64_t rva, uint32_t& file, uint32_t& line) {
    Cursor cursor = Begin(table);
    bool found = false;
    const char* lineEnd;
    while (!cursor.Done()) {
        uint64_t start = 0, fileIndex = 0, number = 0;
        Cursor peek = cursor;
        if (peek.Word("file ") || peek.Word("pfadlotse-lines") || !cursor.Number(16, start)) {
            cursor.NextLine(lineEnd);
            continue;
        }
        if (start > rva) break;  // rows ascend: the one before is the answer
        cursor.SkipBlanks();
        if (cursor.Word("-")) {
            found = false;
        } else {
            found = cursor.Number(10, fileIndex) && cursor.Number(10, number) && number > 0 &&
                    number <= 0xFFFFFF && fileIndex < 256;
            file = static_cast<uint32_t>(fileIndex);
            line = static_cast<uint32_t>(number);
        }
        cursor.NextLine(lineEnd);
    }
    return found;
}
