// TIFF output through libtiff: CCITT Group 4 for 1-bit pages, LZW with horizontal
// predictor for gray and colour, LZW palette images for 8-bit pages with a colour palette.
#pragma once

#include <QImage>

class QIODevice;

namespace kelvo {

// Writes img as a single-page TIFF with the given resolution (dots per inch; none is
// written when not positive). The device must be seekable; the file starts at its current
// position. False on an unusable image or any write failure.
bool writeTiff(QIODevice& out, const QImage& img, int xDpi, int yDpi);

} // namespace kelvo
