// PDF pages for tests and benchmarks in one call: from a bitmap file (as the page handler's
// temporary bitmaps are written) or from a page in memory. The program itself codes each
// picture from the page while the bitmap is written beside it.
#pragma once

#include "imaging/Bitmap.h"
#include "scan/PdfDocument.h"

#include <QByteArray>

namespace kelvo::test {

// The picture of a BMP file as L_SaveBitmap writes a page: null when the file is missing, cut
// short in its pixel rows, or no picture.
PdfPagePicture pictureOfBitmapFile(const QByteArray& fileName);

// Appends one page from the bitmap file (left out and named, like any picture that could not
// be made, when the file does not give one); false then and for unknown handles.
bool addPdfPage(PdfDocuments& docs, int document, const QByteArray& bitmapFileName, double x, double y,
                int pageNumber, int pageDpi = 0);
// The same from a page in memory, coded on the calling thread.
bool addPdfPage(PdfDocuments& docs, int document, const Bitmap& page, double x, double y, int pageNumber,
                int pageDpi = 0);

} // namespace kelvo::test
