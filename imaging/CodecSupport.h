// Pieces the PCX, TIFF and GIF writers share: which pixel formats they take directly, and
// how a 1-bit line's bits map to light and dark whatever the image's colour table says.
#pragma once

#include <QImage>

#include <array>

namespace kelvo {

// The image in a format the writers take directly; anything else is converted once.
QImage writableImage(const QImage& img);

// For every byte of a 1-bit line (MSB or LSB first, as the image stores it): the MSB-first
// byte whose set bits mark the lighter of the two colour-table entries. Equal entries count
// as light from a gray of 128 up.
std::array<uchar, 256> lightBitsTable(const QImage& img);

} // namespace kelvo
