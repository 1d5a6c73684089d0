// Windows bitmap files: 1 bit and 8 bit with their colour table, 24 bit as BGR, written in
// large pieces of whole rows. Qt's own writer first converts a whole colour page to 32 bits,
// a second raster, and writes one row at a time.
#pragma once

#include <QImage>

class QIODevice;

namespace kelvo {

// False on an unusable image or a failed write.
bool writeBmp(QIODevice& out, const QImage& img, int xDpi, int yDpi);

} // namespace kelvo
