// Encoding a page for storing as a file: the pixels as a given format and depth would hold
// them, and the codec that writes them. Files are created atomically by scan/SaveBitmap.
#pragma once

#include "imaging/Bitmap.h"

#include <QImage>

class QIODevice;

namespace kelvo {

// The image as L_SaveBitmap stores it in `format` (a FILE_ code) at `bitsPerPixel`: converted
// when the depths differ, else the same pixels, shared.
QImage imageToStore(const QImage& img, int format, int bitsPerPixel);

// The page as `format` stores it at `bitsPerPixel`, stamped with the bitmap's resolution; a
// null image and the code in *error (ERROR_NO_IMAGE, ERROR_BAD_BITS, ERROR_NO_MEMORY) when it
// cannot be stored.
QImage imageForStore(const Bitmap& bitmap, int format, int bitsPerPixel, int* error);
// Encodes an image from imageForStore in `format` (quality: JPEG's factor) to `device`.
bool writeImage(QIODevice& device, const QImage& img, int format, int quality, int xDpi, int yDpi);

} // namespace kelvo
