// Telling blank pages apart, for scanners that cannot drop them themselves.
#pragma once

#include <QImage>

namespace kelvo {

// True when the page is blank: almost every pixel is near white. The rule, on a grid of
// samples that leaves out a margin of 4 % on every side (shadows and punch holes at the
// paper's edges):
//   - a sample is dark when its luminance is below 90 % of full white;
//   - at most 0.5 % of all samples are dark (so at least 99.5 % are near white), and
//   - no tile of a 16 × 16 grid over the sampled area has more than 1 % dark samples,
//     so scattered dust spots pass while a single short line of text keeps the page.
// Works on every format a scanned page comes in (1-bit with any colour table, gray, colour).
bool isBlankPage(const QImage& page);

} // namespace kelvo
