#include "scanner/sane/SaneFrame.h"

#include <algorithm>
#include <cmath>

namespace kelvo {

double nearestAllowedValue(double wanted, const ValueConstraint& allowed)
{
    switch (allowed.kind) {
    case ValueConstraint::Any:
        return wanted;
    case ValueConstraint::Range: {
        const double lo = std::min(allowed.min, allowed.max);
        const double hi = std::max(allowed.min, allowed.max);
        double v = std::clamp(wanted, lo, hi);
        if (allowed.quant > 0.0) {
            v = lo + std::round((v - lo) / allowed.quant) * allowed.quant;
            // Rounding up may overshoot the top of a range that is not a whole number of steps.
            while (v > hi + 1e-9 && v - allowed.quant >= lo - 1e-9)
                v -= allowed.quant;
        }
        return std::clamp(v, lo, hi);
    }
    case ValueConstraint::List: {
        if (allowed.values.empty())
            return wanted;
        double best = allowed.values.front();
        double bestDistance = std::fabs(best - wanted);
        for (double v : allowed.values) {
            const double d = std::fabs(v - wanted);
            if (d < bestDistance - 1e-9 || (std::fabs(d - bestDistance) <= 1e-9 && v > best)) {
                best = v;
                bestDistance = d;
            }
        }
        return best;
    }
    }
    return wanted;
}

double millimetresPerUnit(int unit, double dpi)
{
    switch (unit) {
    case TWUN_INCHES: return kMillimetresPerInch;
    case TWUN_CENTIMETERS: return 10.0;
    case TWUN_PICAS: return kMillimetresPerInch / 6.0;
    case TWUN_POINTS: return kMillimetresPerInch / 72.0;
    case TWUN_TWIPS: return kMillimetresPerInch / 1440.0;
    case TWUN_PIXELS: return dpi > 0.0 ? kMillimetresPerInch / dpi : 0.0;
    default: return 0.0;
    }
}

bool frameToMillimetres(const TW_FRAME& frame, int unit, double xDpi, double yDpi, ScanArea* out)
{
    const double fx = millimetresPerUnit(unit, xDpi);
    const double fy = millimetresPerUnit(unit, yDpi);
    if (fx <= 0.0 || fy <= 0.0)
        return false;
    ScanArea a;
    a.left = fix32ToDouble(frame.Left) * fx;
    a.top = fix32ToDouble(frame.Top) * fy;
    a.right = fix32ToDouble(frame.Right) * fx;
    a.bottom = fix32ToDouble(frame.Bottom) * fy;
    if (a.right <= a.left || a.bottom <= a.top)
        return false;
    *out = a;
    return true;
}

ScanArea millimetresToPixels(const ScanArea& mm, double xDpi, double yDpi)
{
    return {mm.left / kMillimetresPerInch * xDpi, mm.top / kMillimetresPerInch * yDpi,
            mm.right / kMillimetresPerInch * xDpi, mm.bottom / kMillimetresPerInch * yDpi};
}

} // namespace kelvo
