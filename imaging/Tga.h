// Truevision TGA reading. Qt's own TGA reader takes only files with the TGA 2.0 footer and no
// compression, which most writers (GraphicsMagick, ImageMagick, GIMP) do not produce; TGA has
// no signature, so another reader may even claim such a file. This one reads colour-mapped,
// true-colour (15, 16 and 24 bits, 16 and 32 with alpha) and gray images (8 bits, 16 with
// alpha), uncompressed or run-length encoded, in any row order.
#pragma once

#include <QImage>

class QIODevice;

namespace kelvo {

// True when the device starts with a TGA header we can decode and holds enough bytes for its
// colour map; only peeks. Weak by nature: TGA has no signature.
bool tgaCanRead(QIODevice* device);
// True when the file ends in the TGA 2.0 footer ("TRUEVISION-XFILE").
bool tgaHasFooter(QIODevice* device);
// Decodes the whole image: Format_Indexed8, Format_Grayscale8, Format_RGB32 or Format_ARGB32
// (when the file says its pixels carry alpha). False on any header, data or device problem.
bool readTga(QIODevice* device, QImage* image);

} // namespace kelvo
