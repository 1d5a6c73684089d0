// Storing a page as a file: encoded by imaging/ImageSave, written through an AtomicFile so
// that a failed store never leaves a half-written file under the name.
#pragma once

#include "imaging/Bitmap.h"
#include "imaging/ImageFile.h"

#include <QString>

namespace kelvo {

// Stores `bitmap` under `fileName` in the given format. bitsPerPixel 1/8/24 is the depth to
// store (the image is converted when it differs); quality is JPEG's quality factor.
// Temporary files are made with `mode` (0666 & ~umask for documents, 0600 for private ones).
int L_SaveBitmap(const QString& fileName, const Bitmap& bitmap, int format, int bitsPerPixel,
                 int quality, unsigned mode = 0666);

// L_SaveBitmap as BMP (quality 0) for a temporary copy of a page: still complete or absent
// under its name, in large writes, but not synced to disk. Same results as L_SaveBitmap. It
// only reads the bitmap, so it may run on a worker thread while another thread reads the
// same page; nobody may change the page meanwhile.
int saveScratchBitmap(const QString& fileName, const Bitmap& bitmap, int bitsPerPixel, unsigned mode = 0600);

} // namespace kelvo
