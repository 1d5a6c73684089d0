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
    int xResolution = 0;     // dots per inch, as the image's dots per metre say
    int yResolution = 0;
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

// The one conversion between dots per inch and the dots per metre images carry.
int dotsPerMeter(double dpi);
int dpiOf(int dotsPerMeter);

// The resolution a scanned page is stamped with, in whole dots per inch: the one the device
// used (rounded) when it differs from the request (150.4 asked, 150 used: 150; 250 asked, 300
// used: 300), else the request truncated. A device that reports none (0) leaves the request;
// 0 when neither is known. The scanner layer stamps each page once, with stampResolution().
int stampedResolution(double requested, double used);
// Sets the image's dots per metre for these resolutions (a value of 0 leaves that axis).
void stampResolution(QImage& image, int xDpi, int yDpi);

} // namespace kelvo
