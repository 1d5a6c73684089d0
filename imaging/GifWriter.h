// GIF output through giflib: always 8 bits per pixel with a 256-entry colour map. Colour
// pages with more than 256 colours are reduced with libimagequant.
#pragma once

#include <QImage>

class QIODevice;

namespace kelvo {

// Writes img as a single-image GIF. 1-bit and 8-bit images keep their exact colours; colour
// images with up to 256 colours are stored exactly, others quantised. GIF has no resolution.
// False on an unusable image or any write failure.
bool writeGif(QIODevice& out, const QImage& img);

} // namespace kelvo
