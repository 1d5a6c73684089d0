// The pages of the project's test scanner: a pattern per page number that shows whether the
// pages came in order, the right way up and with red, green and blue in their places.
// Shared by the test data source that draws it and the tests that check it.
#pragma once

#include <cstdint>

namespace kelvotest {

inline uint8_t patternGray(int page, int x, int y)
{
    return static_cast<uint8_t>(x + 2 * y + 37 * page);
}

// Red, green, blue.
inline void patternRgb(int page, int x, int y, uint8_t rgb[3])
{
    rgb[0] = static_cast<uint8_t>(3 * x + 50 * page);
    rgb[1] = static_cast<uint8_t>(5 * y);
    rgb[2] = static_cast<uint8_t>(40 * page + (x ^ y));
}

inline bool patternBlack(int page, int x, int y)
{
    return ((x / 8) + (y / 8) + page) % 2 == 0;
}

} // namespace kelvotest
