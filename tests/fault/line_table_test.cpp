// The line table reader on a table as the build writes one beside a Windows executable.
#include "fault/line_table.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::string TABLE =
    "pfadlotse-lines 2 d4f8fd07c976ffdee9ed328b91b95f8c\n"
    "file tests/fault/driver.cpp\n"
    "file geometry/line2d.cpp\n"
    "1000 - 0\n"
    "1530 0 38\n"
    "1560 1 92\n"
    "f000 - 0\n"  // a row whose address starts like a file line
    "f010 1 7\n";

LineTable Table(const std::string& text) { return {text.data(), text.size()}; }

TEST(LineTable, MatchesOnlyTheExecutableItWasMadeFor) {
    const char* id = "d4f8fd07c976ffdee9ed328b91b95f8c";
    struct Case {
        std::string text;
        const char* buildId;
        bool matches;
    };
    const Case cases[] = {
        {TABLE, id, true},
        {TABLE, "d4f8fd07c976ffdee9ed328b91b95f8d", false},
        {TABLE, "d4f8fd07c976ffdee9ed328b91b95f8", false},  // a prefix of the table's
        {TABLE, "", false},
        {"pfadlotse-lines 1 d4f8fd07c976ffdee9ed328b91b95f8c\n", id, false},
        {"pfadlotse-lines 2 d4f8fd07c976ffdee9ed328b91b95f8c", id, true},  // the file's end
        {"pfadlotse-lines 2 d4f8fd07", id, false},
        {"", id, false},
    };
    for (const Case& each : cases)
        EXPECT_EQ(LineTableMatches(Table(each.text), each.buildId), each.matches) << each.text;
}

TEST(LineTable, TheRowAtOrBeforeTheAddressNamesTheLine) {
    struct Case {
        uint64_t rva;
        bool found;
        uint32_t file, line;
    };
    const Case cases[] = {
        {0x0FFF, false, 0, 0}, {0x1000, false, 0, 0}, {0x1530, true, 0, 38}, {0x155F, true, 0, 38},
        {0x1560, true, 1, 92}, {0xEFFF, true, 1, 92}, {0xF000, false, 0, 0}, {0xF010, true, 1, 7},
    };
    for (const Case& each : cases) {
        uint32_t file = 99, line = 99;
        ASSERT_EQ(LineTableLookup(Table(TABLE), each.rva, file, line), each.found) << each.rva;
        if (each.found) {
            EXPECT_EQ(file, each.file) << each.rva;
            EXPECT_EQ(line, each.line) << each.rva;
        }
    }
    // A file cut inside the last row, as a mapped view may end: no half-read line.
    uint32_t file = 0, line = 0;
    EXPECT_FALSE(LineTableLookup(Table(TABLE.substr(0, TABLE.size() - 3)), 0xF010, file, line));
}

TEST(LineTable, FilesByIndex) {
    char path[64];
    EXPECT_TRUE(LineTableFile(Table(TABLE), 0, path, sizeof path));
    EXPECT_STREQ(path, "tests/fault/driver.cpp");
    EXPECT_TRUE(LineTableFile(Table(TABLE), 1, path, sizeof path));
    EXPECT_STREQ(path, "geometry/line2d.cpp");
    EXPECT_FALSE(LineTableFile(Table(TABLE), 2, path, sizeof path));
    EXPECT_FALSE(LineTableFile(Table(TABLE), 1, path, 8));  // does not fit
    EXPECT_STREQ(path, "");
}

}  // namespace
