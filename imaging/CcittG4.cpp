#include "imaging/CcittG4.h"

#include <QColor>

#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kelvo {

namespace {

// A growable in-memory file for libtiff's client I/O.
struct MemoryFile {
    std::vector<unsigned char> data;
    toff_t pos = 0;
};

tmsize_t memRead(thandle_t h, void* buf, tmsize_t size)
{
    auto* f = static_cast<MemoryFile*>(h);
    if (size <= 0 || f->pos >= f->data.size())
        return 0;
    const size_t n = std::min<size_t>(static_cast<size_t>(size), f->data.size() - f->pos);
    std::memcpy(buf, f->data.data() + f->pos, n);
    f->pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t memWrite(thandle_t h, void* buf, tmsize_t size)
{
    auto* f = static_cast<MemoryFile*>(h);
    if (size <= 0)
        return 0;
    const size_t n = static_cast<size_t>(size);
    try {
        if (f->data.size() < f->pos + n)
            f->data.resize(f->pos + n);
    } catch (...) {
        return -1;
    }
    std::memcpy(f->data.data() + f->pos, buf, n);
    f->pos += n;
    return size;
}

toff_t memSeek(thandle_t h, toff_t off, int whence)
{
    auto* f = static_cast<MemoryFile*>(h);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = f->pos;
    else if (whence == SEEK_END)
        base = f->data.size();
    f->pos = base + off;
    return f->pos;
}

int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t h) { return static_cast<MemoryFile*>(h)->data.size(); }
int memMap(thandle_t, void**, toff_t*) { return 0; }
void memUnmap(thandle_t, void*, toff_t) {}

TIFF* openMemory(MemoryFile& f, const char* mode)
{
    f.pos = 0;
    return TIFFClientOpen("ccitt-g4", mode, static_cast<thandle_t>(&f), memRead, memWrite,
                          memSeek, memClose, memSize, memMap, memUnmap);
}

// The image as packed rows, MSB first, 1 = dark, padding bits clear.
std::vector<unsigned char> darkBits(const QImage& mono)
{
    const int w = mono.width();
    const int h = mono.height();
    const size_t rowBytes = (static_cast<size_t>(w) + 7) / 8;
    std::vector<unsigned char> out(rowBytes * static_cast<size_t>(h), 0);

    const QList<QRgb> table = mono.colorTable();
    const bool uniform = table.size() >= 2 && qGray(table[0]) == qGray(table[1]);
    const unsigned char lastMask =
        (w % 8) ? static_cast<unsigned char>(0xFF00u >> (w % 8)) : static_cast<unsigned char>(0xFF);

    if (uniform) {
        // Both entries look alike: every pixel has that one colour.
        if (qGray(table[0]) < 128) {
            for (int y = 0; y < h; ++y) {
                unsigned char* row = out.data() + rowBytes * static_cast<size_t>(y);
                std::memset(row, 0xFF, rowBytes);
                row[rowBytes - 1] &= lastMask;
            }
        }
        return out;
    }

    const bool invert = darkIndexOf(mono) == 0;
    for (int y = 0; y < h; ++y) {
        const uchar* src = mono.constScanLine(y);
        unsigned char* row = out.data() + rowBytes * static_cast<size_t>(y);
        for (size_t i = 0; i < rowBytes; ++i)
            row[i] = invert ? static_cast<unsigned char>(~src[i]) : src[i];
        row[rowBytes - 1] &= lastMask;
    }
    return out;
}

} // namespace

int darkIndexOf(const QImage& oneBit)
{
    const QList<QRgb> table = oneBit.colorTable();
    if (table.size() < 2)
        return 1;
    return qGray(table[0]) < qGray(table[1]) ? 0 : 1;
}

QByteArray encodeCcittG4(const QImage& oneBit)
{
    if (oneBit.isNull() || oneBit.depth() != 1 || oneBit.width() <= 0 || oneBit.height() <= 0)
        return {};
    const QImage mono = oneBit.format() == QImage::Format_Mono
                            ? oneBit
                            : oneBit.convertToFormat(QImage::Format_Mono);
    if (mono.isNull())
        return {};

    const auto w = static_cast<uint32_t>(mono.width());
    const auto h = static_cast<uint32_t>(mono.height());
    std::vector<unsigned char> bits;
    try {
        bits = darkBits(mono);
    } catch (...) {
        return {};
    }

    MemoryFile file;
    TIFF* out = openMemory(file, "w");
    if (!out)
        return {};
    bool ok = TIFFSetField(out, TIFFTAG_IMAGEWIDTH, w) && TIFFSetField(out, TIFFTAG_IMAGELENGTH, h)
              && TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 1)
              && TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1)
              && TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4)
              && TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE)
              && TIFFSetField(out, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB)
              && TIFFSetField(out, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG)
              && TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, h);
    // Fax coding of 1 bits as black runs: with MINISWHITE those are the dark pixels.
    ok = ok && TIFFWriteEncodedStrip(out, 0, bits.data(), static_cast<tmsize_t>(bits.size())) >= 0;
    ok = ok && TIFFFlush(out) == 1;
    TIFFClose(out);
    if (!ok)
        return {};
    bits = {};

    TIFF* in = openMemory(file, "rm");
    if (!in)
        return {};
    QByteArray result;
    uint64_t* counts = nullptr;
    if (TIFFNumberOfStrips(in) == 1 && TIFFGetField(in, TIFFTAG_STRIPBYTECOUNTS, &counts) && counts
        && counts[0] > 0 && counts[0] <= file.data.size()) {
        result.resize(static_cast<qsizetype>(counts[0]));
        const tmsize_t got = TIFFReadRawStrip(in, 0, result.data(), result.size());
        if (got != result.size())
            result.clear();
    }
    TIFFClose(in);
    return result;
}

} // namespace kelvo
