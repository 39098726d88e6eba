#include "core/blankLines.h"

#include <cstdint>
#include <cstring>

int isNullDataLine(const unsigned char* line, int length)
{
    if (line == nullptr || length == 0) {
        return -1;
    }
    // Stops at the first byte that is not white (FF); a negative length
    // examines nothing and counts as blank.
    int i = 0;
    for (; i + 8 <= length; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, line + i, sizeof word);
        if (word != ~std::uint64_t{0}) {
            break;
        }
    }
    for (; i < length; ++i) {
        if (line[i] != 0xFF) {
            return 1;
        }
    }
    return 0;
}

void DataNullLine(const unsigned char* flags, int height, int* startLine, int* endLine, int mode)
{
    if ((mode == 1 || mode == 3) && height >= 2) {
        for (int i = 1; i < height; ++i) {
            if (flags[i - 1] != 0) {
                break;  // the top line has content: nothing to trim
            }
            if (flags[i] != 0) {
                *startLine = i;
                break;
            }
        }
    }
    if ((mode == 2 || mode == 3) && height >= 4) {
        for (int i = height - 1; i >= 3; --i) {
            if (flags[i] != 0) {
                break;  // the bottom line has content
            }
            if (flags[i - 1] != 0) {
                *endLine = height - i;
                break;
            }
        }
    }
}
