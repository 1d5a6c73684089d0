// Pages from the frames SANE delivers: one gray or RGB frame, or the red, green and blue
// frames of a three-pass scanner, in any of SANE's depths, into the image the page handler
// stores; and the page brought to the depth the session asked for when the device could not
// deliver it.
#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>
#include <vector>

namespace kelvo {

// One frame as SANE delivers it (format uses the SANE_FRAME_* numbers: 0 gray, 1 RGB,
// 2 red, 3 green, 4 blue).
struct SaneFrameData {
    int format = 0;
    int depth = 8;
    int pixelsPerLine = 0;
    int bytesPerLine = 0;
    int lines = 0;  // -1: not known in advance; the data decides
    QByteArray data;
};

// The page from one gray or RGB frame, or from the red, green and blue frames of a
// three-pass scanner. 1-bit gray becomes Format_Mono (1 = black, padding bits ignored),
// 8/16-bit gray Grayscale8, colour RGB888 (16-bit samples scaled to 8). Fewer rows than
// announced give a shorter page; a missing tail of the last row is white. A null image
// with *result set (ACQUIRE_BAD_DATA, ACQUIRE_NO_MEMORY) when the frames cannot be read.
QImage pageFromFrames(const std::vector<SaneFrameData>& frames, int* result);
// Where the data of an adopted frame goes once its page is released: back to the reader
// for the next page. Empty: the data is freed.
using FrameRecycler = std::function<void(QByteArray&& data)>;

// The page from a single 8-bit frame whose rows need no conversion, taking over its data;
// a null image (and the frame untouched) otherwise.
QImage adoptFrame(std::vector<SaneFrameData>& frames, FrameRecycler recycle = {});

// The gray value below which a pixel becomes black in a 1-bit page made in software: mid-gray,
// as SANE's own lineart modes (the test backend's included) threshold by default.
inline constexpr int kLineartThreshold = 128;

// The page in `bitsPerPixel` (1 or 8) when it came richer: 1 bit by the threshold above
// (a pixel whose gray is below it is black; Format_Mono with white at index 0), 8-bit gray
// from colour (luminance). Any other request, or a page already as poor, is returned as it is.
// Keeps the page's resolution. A null image when memory runs out.
QImage pageInDepth(QImage page, int bitsPerPixel);

} // namespace kelvo
