// ZSoft PCX, our own small codec: Qt has no PCX support. Reading goes through a
// QImageIOHandler so the viewer opens PCX like any other format; writing stores a page as
// 1 bit one plane, 8 bit with the 256-colour palette, or 24 bit in three planes.
#pragma once

#include <QImage>
#include <QImageIOHandler>

class QIODevice;

namespace kelvo {

// Largest width or height read or written; PCX stores 16-bit signed coordinates.
inline constexpr int kPcxMaxDimension = 32767;

class PcxHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    // Decodes one PCX image, run-length encoded or stored as it is: Format_Mono (1 bit),
    // Format_Indexed8 (4 or 16 colours in planes or packed 2- or 4-bit pixels, or 256
    // colours), Format_Grayscale8 (256 colours forming the gray ramp), Format_RGB888 (24 bit),
    // Format_ARGB32 (four 8-bit planes; Format_RGB32 when the fourth is all zero). False on
    // any header, data or device problem.
    bool read(QImage* image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    // True when the device starts with a PCX header we can decode; only peeks.
    static bool canRead(QIODevice* device);
};

// Writes img as PCX version 5 with the given resolution in the header. 1-bit images keep
// their look (the lighter table entry becomes white), 8-bit images their gray ramp or
// palette, 24-bit images go to three planes. False on an unusable image or a failed write.
bool writePcx(QIODevice& out, const QImage& img, int xDpi, int yDpi);

} // namespace kelvo
