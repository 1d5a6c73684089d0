// Independent programs that check what we write (gm, tiffinfo, pcxtoppm, qpdf, pdfinfo,
// pdfimages), run as child processes.
#pragma once

#include <QString>
#include <QStringList>

namespace kelvo::test {

struct ToolResult {
    int exitCode = -1;
    QString out; // standard output and standard error together
};
ToolResult runTool(const QString& program, const QStringList& args, int timeoutMs = 60000);

// The same with standard output kept apart and as bytes (image data, exact listings).
struct ToolOutput {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};
ToolOutput runToolRaw(const QString& program, const QStringList& args, int timeoutMs = 60000);

// What GraphicsMagick says of an image file.
struct Identified {
    QString format;   // PNG, JPEG, GIF, PCX, TIFF, BMP
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0; // 1, 8 or 24, from the depth per sample and the image type
    double xDpi = 0;
    double yDpi = 0;
    QString raw;
};
Identified identify(const QString& file);

} // namespace kelvo::test
