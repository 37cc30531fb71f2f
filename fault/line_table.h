// Reading the line table the build writes beside a Windows executable (see
// fault/win32/make_line_table.sh for its format): which line of our code runs at an address.
//
// Plain text, read in place: no allocation, so it works at fault time whatever broke. The
// table is a view of the file's bytes, as mapped; it need not end in a zero.
#pragma once

#include <cstddef>
#include <cstdint>

struct LineTable {
    const char* text;
    size_t length;
};

// True when the table is one and was made for the executable with this build id (its 32 hex
// digits, as objdump prints it): a table left from an earlier build would name wrong lines.
bool LineTableMatches(LineTable table, const char* buildId);

// The path of file index (0 being the frame loop's file), copied into out with a terminating
// zero; false, and out empty, when there is no such file or it does not fit.
bool LineTableFile(LineTable table, uint32_t index, char* out, size_t capacity);

// The line of our code that runs at rva (relative to the executable's base): true with the
// file index and the line, false where none of ours does.
bool LineTableLookup(LineTable table, uint64_t rva, uint32_t& file, uint32_t& line);
