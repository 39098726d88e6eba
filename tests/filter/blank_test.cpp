// Blank-line classification and the top/bottom scans of paper saving.
#include <gtest/gtest.h>

#include <vector>

#include "filter/Functions.h"

namespace {

TEST(BlankLine, ClassifiesWhiteAndContent)
{
    std::vector<unsigned char> line(72, 0xFF);
    EXPECT_EQ(isNullDataLine(line.data(), 72), 0);
    line[71] = 0xFE;
    EXPECT_EQ(isNullDataLine(line.data(), 72), 1);
    // Content in every position, including inside and after the word-sized steps.
    for (int length : {1, 7, 8, 9, 15, 16, 17, 72}) {
        for (int at = 0; at < length; ++at) {
            std::vector<unsigned char> l(length, 0xFF);
            l[at] = 0x00;
            EXPECT_EQ(isNullDataLine(l.data(), length), 1) << length << " " << at;
            // Content past the given length is not looked at.
            EXPECT_EQ(isNullDataLine(l.data(), at), at == 0 ? -1 : 0);
        }
    }
    const unsigned char white = 0xFF, black = 0x00;
    EXPECT_EQ(isNullDataLine(&white, 1), 0);
    EXPECT_EQ(isNullDataLine(&black, 1), 1);
    EXPECT_EQ(isNullDataLine(nullptr, 5), -1);
    EXPECT_EQ(isNullDataLine(&black, 0), -1);
    EXPECT_EQ(isNullDataLine(&black, -3), 0);
}

struct Counts {
    int start;
    int end;
};

Counts scan(std::vector<unsigned char> flags, int mode, int initial = 0)
{
    Counts c{initial, initial};
    DataNullLine(flags.data(), static_cast<int>(flags.size()), &c.start, &c.end, mode);
    return c;
}

TEST(BlankLine, ScansTopAndBottom)
{
    Counts c = scan({0, 0, 0, 1, 1, 0, 0}, 3);
    EXPECT_EQ(c.start, 3);
    EXPECT_EQ(c.end, 2);

    EXPECT_EQ(scan({1, 0, 0, 1, 0}, 1).start, 0);           // top line has content
    EXPECT_EQ(scan({0, 0, 1, 0, 1, 1}, 2).end, 0);          // bottom line has content
    EXPECT_EQ(scan({1, 1, 0, 0, 0, 0}, 2).end, 0);          // content only in lines 0 and 1
    EXPECT_EQ(scan({0, 0, 1, 0, 0, 0}, 2).end, 3);
    EXPECT_EQ(scan({0, 0, 0, 0, 0, 1}, 1).start, 5);
}

TEST(BlankLine, ScansRunOnlyForTheirModesAndHeights)
{
    const std::vector<unsigned char> flags = {0, 0, 1, 1, 0, 0};
    for (int mode : {-1, 0, 1, 2, 3, 4, 5}) {
        Counts c = scan(flags, mode, 99);
        EXPECT_EQ(c.start, (mode == 1 || mode == 3) ? 2 : 99) << mode;
        EXPECT_EQ(c.end, (mode == 2 || mode == 3) ? 2 : 99) << mode;
        // An all-blank page leaves both counts as they were.
        Counts blank = scan({0, 0, 0, 0, 0, 0}, mode, 7);
        EXPECT_EQ(blank.start, 7);
        EXPECT_EQ(blank.end, 7);
    }
    // Height 3: only the top scan runs.
    Counts c = scan({0, 1, 0}, 3, 99);
    EXPECT_EQ(c.start, 1);
    EXPECT_EQ(c.end, 99);
    // Height 1: neither.
    c = scan({0}, 3, 99);
    EXPECT_EQ(c.start, 99);
    EXPECT_EQ(c.end, 99);
    // Height 4, content in line 2: the bottom scan finds it.
    EXPECT_EQ(scan({0, 0, 1, 0}, 2).end, 1);
}

}  // namespace
