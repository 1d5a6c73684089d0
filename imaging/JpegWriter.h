// Baseline JPEG on libjpeg-turbo, encoded straight from the image's rows. A page is cut into
// horizontal bands that are encoded on all cores at once and joined with restart markers into
// one ordinary baseline file; the bands depend only on the image size, so the bytes written
// do not depend on the number of cores.
#pragma once

#include <QByteArray>
#include <QImage>

class QIODevice;

namespace kelvo {

// Gray or colour JPEG of the image at the given quality (1..100, chroma 2x2), with a JFIF
// density in dots per inch taken from the image's dots per metre (as Qt's writer stamps it).
// 1-bit and palette images with only gray entries become gray, everything else colour;
// alpha is not stored. Empty on failure (null image, encoder error, out of memory).
QByteArray encodeJpeg(const QImage& img, int quality);
// The same with the density taken from the given dots per metre instead of the image's.
QByteArray encodeJpeg(const QImage& img, int quality, int dotsPerMeterX, int dotsPerMeterY);

// The same onto a device; false when encoding or a write failed.
bool writeJpeg(QIODevice& out, const QImage& img, int quality);

// How many threads encode bands of one picture: two per core of this machine, at most 8.
int jpegEncoderThreads();

} // namespace kelvo
