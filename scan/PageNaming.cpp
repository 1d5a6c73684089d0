#include "scan/PageNaming.h"

#include "imaging/ImageFile.h"

namespace kelvo {

namespace {

// Index of the first character of the final path component.
qsizetype finalComponentStart(const QString& name)
{
    return name.lastIndexOf(QLatin1Char('/')) + 1;
}

QChar advanced(QChar c)
{
    if (c == QLatin1Char('9'))
        return QLatin1Char('A');
    QChar next(static_cast<char16_t>(c.unicode() + 1));
    // A dot before the counter must not turn into a path separator.
    if (next == QLatin1Char('/') || next.isNull())
        next = QLatin1Char('0');
    return next;
}

} // namespace

PageName pageNameFor(const QString& targetFileName, const QString& outputFormat, int bitsPerPixel)
{
    QString working = targetFileName;
    QString extension;
    const qsizetype dot = working.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && working.indexOf(QLatin1Char('/'), dot) < 0 && working.size() - dot >= 2) {
        extension = working.mid(dot + 1);
    } else {
        if (!working.endsWith(QLatin1Char('.')))
            working += QLatin1Char('.');
        extension = bitsPerPixel == 1 ? QStringLiteral("PCX")
                    : bitsPerPixel > 8 ? QStringLiteral("JPG")
                                       : QStringLiteral("GIF");
        working += extension;
    }

    QString format = outputFormat.isEmpty() ? extension : outputFormat;
    if (format.toUpper() == QLatin1String("JPG") && bitsPerPixel == 1)
        format = extension.toUpper() == QLatin1String("JPG") ? QStringLiteral("PCX") : extension;

    PageName r;
    r.writtenName = working.left(working.size() - extension.size()) + format;
    r.formatName = format;
    return r;
}

QString advanceName(const QString& writtenName)
{
    QString name = writtenName;
    const qsizetype start = finalComponentStart(name);
    qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < start) // no dot in the file name itself; one in a directory name does not count
        dot = name.size();
    if (dot <= start) {
        // Nothing to count: start a counter, so the next name differs from this one.
        name.insert(dot, QStringLiteral("01"));
        return name;
    }
    const qsizetype units = dot - 1;
    const QChar u = name.at(units);
    if (u == QLatin1Char('Z')) {
        name[units] = QLatin1Char('0');
        const qsizetype tens = units - 1;
        if (tens >= start)
            name[tens] = advanced(name.at(tens));
    } else {
        name[units] = advanced(u);
    }
    return name;
}

StoreFormat storeFormatFor(const QString& formatName, int pageBitsPerPixel)
{
    const QString f = formatName.toUpper();
    if (f == QLatin1String("PDF"))
        return {true, FILE_BMP, pageBitsPerPixel, 0};
    if (f == QLatin1String("JPG") || f == QLatin1String("JPEG"))
        return {false, FILE_JPEG, pageBitsPerPixel, 95};
    if (f == QLatin1String("GIF"))
        return {false, FILE_GIF, 8, 0};
    if (f == QLatin1String("PCX"))
        return {false, FILE_PCX, pageBitsPerPixel, 0};
    if (f == QLatin1String("TIF"))
        return {false, FILE_TIF, pageBitsPerPixel, 0};
    if (f == QLatin1String("PNG"))
        return {false, FILE_PNG, pageBitsPerPixel, 0};
    return {false, FILE_BMP, pageBitsPerPixel, 0};
}

} // namespace kelvo
