// Pieces the PCX, TIFF and GIF writers share: which pixel formats they take directly, and
// how a 1-bit line's bits map to light and dark whatever the image's colour table says.
#pragma once

#include <QImage>

#include <array>

class QIODevice;

namespace kelvo {

// The image in a format the writers take directly; anything else is converted once.
QImage writableImage(const QImage& img);

// For every byte of a 1-bit line (MSB or LSB first, as the image stores it): the MSB-first
// byte whose set bits mark the lighter of the two colour-table entries. Equal entries count
// as light from a gray of 128 up.
std::array<uchar, 256> lightBitsTable(const QImage& img);

// Writes all of `data`, going on after a short write (a file that just filled up takes part
// of a large write), so that a failure is the device's own error. False when it failed.
bool writeFully(QIODevice& out, const char* data, qint64 size);

} // namespace kelvo
