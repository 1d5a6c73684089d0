// Storing a page beside L_SaveBitmap: the pixels as a given format and depth would hold them,
// and the temporary page bitmap of PDF-mode scanning, which may be written on a worker thread.
#pragma once

#include "imaging/Bitmap.h"

#include <QImage>
#include <QString>

namespace kelvo {

// The image as L_SaveBitmap stores it in `format` (a FILE_ code) at `bitsPerPixel`: converted
// when the depths differ, else the same pixels, shared.
QImage imageToStore(const QImage& img, int format, int bitsPerPixel);

// L_SaveBitmap as BMP (quality 0) for a temporary copy of a page: still complete or absent
// under its name, in large writes, but not synced to disk. Same results as L_SaveBitmap. It
// only reads the bitmap, so it may run on a worker thread while another thread reads the
// same page; nobody may change the page meanwhile.
int saveScratchBitmap(const QString& fileName, const Bitmap& bitmap, int bitsPerPixel, unsigned mode = 0600);

} // namespace kelvo
