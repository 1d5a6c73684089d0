#include "imaging/Twain.h"

#include <cmath>

namespace kelvo {

TW_FIX32 floatToFix32(float value)
{
    // Round to the nearest 1/65536, as the TWAIN reference conversion does.
    const auto fixed = static_cast<int32_t>(std::lround(static_cast<double>(value) * 65536.0));
    TW_FIX32 r;
    r.Whole = static_cast<int16_t>(fixed >> 16);
    r.Frac = static_cast<uint16_t>(fixed & 0xffff);
    return r;
}

double fix32ToDouble(TW_FIX32 value)
{
    return value.Whole + value.Frac / 65536.0;
}

} // namespace kelvo
