// The scan area and other numeric settings, from TWAIN's terms into the values SANE options
// take. Pure functions, so they can be tested without a scanner.
#pragma once

#include "scanner/Twain.h"

#include <vector>

namespace kelvo {

inline constexpr double kMillimetresPerInch = 25.4;

// TWAIN unit codes other than pixels (TWUN_PIXELS is in Twain.h).
inline constexpr int TWUN_INCHES = 0;
inline constexpr int TWUN_CENTIMETERS = 1;
inline constexpr int TWUN_PICAS = 2;
inline constexpr int TWUN_POINTS = 3;
inline constexpr int TWUN_TWIPS = 4;

// What a numeric option allows: any value, a range (with a step when quant > 0), or a list.
struct ValueConstraint {
    enum Kind { Any, Range, List };
    Kind kind = Any;
    double min = 0.0;
    double max = 0.0;
    double quant = 0.0;
    std::vector<double> values;
};

// The allowed value nearest to `wanted`. On a tie between two list entries the larger wins
// (a finer resolution, a larger area); an empty list allows anything.
double nearestAllowedValue(double wanted, const ValueConstraint& allowed);

// A rectangle in the unit of the SANE geometry options (tl-x, tl-y, br-x, br-y).
struct ScanArea {
    double left = 0.0;
    double top = 0.0;
    double right = 0.0;
    double bottom = 0.0;
    bool operator==(const ScanArea&) const = default;
};

// Millimetres per one `unit` (a TWUN_* code); pixels count at `dpi`. 0 for an unknown unit
// or pixels without a positive resolution.
double millimetresPerUnit(int unit, double dpi);

// The TWAIN frame in millimetres. Pixel frames use the resolution they were computed for
// (the one the caller negotiated), not the one the device ends up with, so the page keeps
// its physical size. Returns false when the unit or resolution makes no sense.
bool frameToMillimetres(const TW_FRAME& frame, int unit, double xDpi, double yDpi, ScanArea* out);

// The same area for geometry options that count pixels at the device's resolution.
ScanArea millimetresToPixels(const ScanArea& mm, double xDpi, double yDpi);

} // namespace kelvo
