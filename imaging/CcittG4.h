// CCITT Group 4 (T.6) coding of 1-bit pictures, for PDF pages.
#pragma once

#include <QByteArray>
#include <QImage>

namespace kelvo {

// Which colour-table index of a 1-bit image is the dark one: 0 or 1, the entry with the lower
// gray value. Without a usable two-entry table, index 1 counts as dark (the scanner's 1 = black).
int darkIndexOf(const QImage& oneBit);
inline bool isDarkIndexZero(const QImage& oneBit) { return darkIndexOf(oneBit) == 0; }

// The raw Group 4 stream of a 1-bit image (Format_Mono or Format_MonoLSB), coded so that dark
// pixels are black runs. It decodes with /CCITTFaxDecode << /K -1 /Columns w /Rows h
// /BlackIs1 false >> in /DeviceGray: black stays black, white stays white. Empty on failure
// (null image, not 1 bit, encoder error).
QByteArray encodeCcittG4(const QImage& oneBit);

} // namespace kelvo
