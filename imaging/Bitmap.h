// The image record passed between the scanner, the page handler, the files and the viewer.
// Owned by its holder; free() releases the pixels. Pixel formats: QImage::Format_Mono or
// Format_MonoLSB (1 bit, any two-entry colour table), Format_Grayscale8 or Format_Indexed8
// (8 bit), Format_RGB888 / Format_RGB32 / Format_ARGB32 (24 bit).
#pragma once

#include <QImage>

namespace kelvo {

struct Bitmap {
    QImage image;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int xResolution = 0;     // dots per inch
    int yResolution = 0;
    // Resolution the scanner reported using for this page (dots per inch; 0: not known). It may
    // differ from the one asked for when the device rounds or clamps.
    double scannedXResolution = 0;
    double scannedYResolution = 0;
    int viewOrientation = 1; // EXIF/TIFF orientation 1..8; 5..8 swap width and height on screen
    bool allocated = false;

    // Takes the pixels and fills the fields from them.
    static Bitmap fromImage(QImage img, int orientation = 1);
    // Displayed size: width and height swapped for orientations 5..8.
    int displayedWidth() const { return swapsAxes() ? height : width; }
    int displayedHeight() const { return swapsAxes() ? width : height; }
    bool swapsAxes() const { return viewOrientation >= 5 && viewOrientation <= 8; }
    void free();
};

// Bits per pixel a QImage stands for: 1, 8 or 24.
int bitsPerPixelOf(const QImage& img);

} // namespace kelvo
