// How a scanned page gets its file name and format: the name advancing Bild01 … Bild09,
// Bild0A … BildZZ, the format chosen from OutputFormat, the name's extension and the page's
// bits per pixel. Pure functions of values.
#pragma once

#include <QString>

namespace kelvo {

inline constexpr const char* kDefaultTargetName = "Bild01.JPG";

struct PageName {
    QString writtenName; // stem (ending in the dot) followed by the format name
    QString formatName;  // as it stands in the written name; compare it upper-cased
};

// targetFileName must not be empty (the caller substitutes the default name first).
PageName pageNameFor(const QString& targetFileName, const QString& outputFormat, int bitsPerPixel);

// The next target name after `writtenName`: the two characters before the last dot count
// 01 … 09, 0A … 0Z, 10 … ZZ. A name without a character before its dot gets "01" there,
// so the next name never repeats the one just written.
QString advanceName(const QString& writtenName);

// How a format name is stored: the library format code, bits per pixel and quality factor.
struct StoreFormat {
    bool pdf = false;
    int formatCode = 0;
    int bitsPerPixel = 0;
    int quality = 0;
};
StoreFormat storeFormatFor(const QString& formatName, int pageBitsPerPixel);

} // namespace kelvo
