// The process-wide settings record, filled once from the command line, and the values one
// scan session (or chain of sessions) keeps. Plain values, so they can be tested without a display.
#pragma once

#include <QString>
#include <cstdint>

namespace kelvo {

// Field widths of the fixed text buffers of the calling applications' interface.
inline constexpr int kMaxFileNameChars = 255;
inline constexpr int kMaxFormatChars = 5;

// A format name that means PDF mode: all pages into one document. Any case.
inline bool isPdfFormat(const QString& format)
{
    return format.toUpper() == QLatin1String("PDF");
}

struct ScanSettings {
    int32_t BitsPerPixel = 24;
    double FrameHeightMm = 290.0;
    double FrameWidthMm = 210.0;
    double Resolution = 150.0;
    QString OutputFormat;       // upper case, at most 5 characters; empty: chosen per page
    int32_t ShowSourceUi = 0;
    int32_t SelectSource = 0;
    uint8_t TransmissiveLight = 0;
    int32_t InvertImage = 0;
    int32_t Duplex = 0;
    uint8_t ExitAfterRun = 0;
    int32_t BlankPageMode = 0;  // 0 not set, -1 discard blank pages, -2 discarding off
    uint8_t AutoRotate = 0;
    QString TargetFileName;     // at most 255 characters
    char ViewerMode = 0;        // '-', '1', 'L' or 0
    QString ViewerProgram;      // at most 255 characters
    char RunMode = 'V';         // 'V', 'S', 'A', 'C', or ' ' once view mode has opened its file

    bool operator==(const ScanSettings&) const = default;
};

// State of the current scan session; PageCounter may get a start value from the command line.
struct SessionState {
    int32_t PageCounter = 0;
    int PdfDocument = 0;        // handle of the open PDF document, 0 when none
    QString FirstPageFile;
    QString LastPageFile;
    // Whether this session (or chain of PDF sessions) has stored a page yet: its first stored
    // page sets FirstPageFile, whatever start value PageCounter had.
    bool PageStored = false;
    QString PdfFileName;        // name the open PDF document will be written under
};

} // namespace kelvo
