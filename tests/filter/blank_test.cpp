// The top/bottom scans of paper saving, for the edges a page through the
// filter does not reach.
#include <gtest/gtest.h>

#include "filter/Functions.h"

TEST(BlankLine, ScansRunOnlyForTheirModesAndHeights)
{
    // Flags, mode, and the start and end counts (99: left as they were).
    const std::vector<std::tuple<std::vector<unsigned char>, int, int, int>> cases = {{{0, 0, 0, 1, 1, 0, 0}, 3, 3, 2},
                                                                                      {{1, 0, 0, 1, 0}, 1, 99, 99},
                                                                                      {{0, 0, 1, 0, 1, 1}, 2, 99, 99},
                                                                                      {{1, 1, 0, 0, 0, 0}, 2, 99, 99},
                                                                                      {{0, 0, 1, 0, 0, 0}, 2, 99, 3},
                                                                                      {{0, 0, 0, 0, 0, 1}, 1, 5, 99},
                                                                                      {{0, 1, 0}, 3, 1, 99},
                                                                                      {{0}, 3, 99, 99},
                                                                                      {{0, 0, 1, 0}, 2, 99, 1},
                                                                                      {{0, 0, 0, 0, 0, 0}, 3, 99, 99},
                                                                                      {{0, 0, 1, 1, 0, 0}, -1, 99, 99},
                                                                                      {{0, 0, 1, 1, 0, 0}, 1, 2, 99},
                                                                                      {{0, 0, 1, 1, 0, 0}, 2, 99, 2},
                                                                                      {{0, 0, 1, 1, 0, 0}, 4, 99, 99},
                                                                                      {{0, 0, 1, 1, 0, 0}, 5, 99, 99}};
    for (const auto& [flags, mode, start, end] : cases) {
        int foundStart = 99, foundEnd = 99;
        DataNullLine(flags.data(), static_cast<int>(flags.size()), &foundStart, &foundEnd, mode);
        EXPECT_EQ(std::pair(foundStart, foundEnd), std::pair(start, end)) << testing::PrintToString(flags) << mode;
    }
}

TEST(BlankLine, ALineIsBlankWhenEveryByteIsWhite)
{
    // Whole words first, then single bytes: a dark byte anywhere makes the line content.
    const std::string white(17, '\xFF');
    for (const int length : {1, 8, 9, 17}) {
        std::string line = white.substr(0, static_cast<std::size_t>(length));
        const auto scan = [&] { return isNullDataLine(reinterpret_cast<const unsigned char*>(line.data()), length); };
        EXPECT_EQ(scan(), 0) << length;
        line.back() = '\xFE';
        EXPECT_EQ(scan(), 1) << length;
    }
    EXPECT_EQ(isNullDataLine(nullptr, 8), -1);
    EXPECT_EQ(isNullDataLine(reinterpret_cast<const unsigned char*>(white.data()), 0), -1);
}
