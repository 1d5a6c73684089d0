#include "fuzz/FuzzEntries.h"

#include "app/CommandLine.h"
#include "imaging/ImageFile.h"
#include "imaging/Pcx.h"
#include "platform/Notifier.h"
#include "platform/Text.h"
#include "scan/HandOff.h"
#include "scan/PageNaming.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QLocale>
#include <QPainter>
#include <QSet>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace kelvo::fuzz {

namespace {

void trapOnViolation(const char* rule)
{
    std::fprintf(stderr, "broken rule: %s\n", rule);
    __builtin_trap();
}

ViolationHandler g_violation = trapOnViolation;

void require(bool holds, const char* rule)
{
    if (!holds)
        g_violation(rule);
}

QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Images the PCX target decodes may be this large; a round trip holds four copies.
constexpr int kPcxAllocationLimitMb = 256;
constexpr qint64 kMaxCheckedPixels = 4096LL * 4096LL;

// ---- command line ----

QStringList splitArguments(const QByteArray& bytes)
{
    QStringList args;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes.at(i) == '\n' || bytes.at(i) == '\0') {
            args << QString::fromUtf8(bytes.mid(start, i - start));
            start = i + 1;
        }
    }
    return args;
}

// /P and /F hold numbers in the user's locale; nothing else may depend on it.
bool hasNumberSwitch(const QStringList& args)
{
    return std::any_of(args.begin(), args.end(), [](const QString& a) {
        return a.size() >= 2 && a.at(0) == QLatin1Char('/') && !isAbsolutePath(a)
               && (a.at(1) == QLatin1Char('P') || a.at(1) == QLatin1Char('F'));
    });
}

void checkSettings(const CommandLineResult& r)
{
    const ScanSettings& s = r.settings;
    require(s.OutputFormat.size() <= kMaxFormatChars, "OutputFormat longer than 5 characters");
    require(s.TargetFileName.size() <= kMaxFileNameChars, "TargetFileName longer than 255 characters");
    require(s.ViewerProgram.size() <= kMaxFileNameChars, "ViewerProgram longer than 255 characters");
    require(s.BitsPerPixel == 1 || s.BitsPerPixel == 8 || s.BitsPerPixel == 24,
            "BitsPerPixel not 1, 8 or 24");
    require(s.RunMode == 'V' || s.RunMode == 'S' || s.RunMode == 'A' || s.RunMode == 'C',
            "RunMode not V, S, A or C");
    require(s.BlankPageMode == 0 || s.BlankPageMode == -1 || s.BlankPageMode == -2,
            "BlankPageMode not 0, -1 or -2");
    require(!r.completed() || s.RunMode != 'V' || s.ExitAfterRun == 0,
            "view mode kept ExitAfterRun");
}

// ---- page naming ----

QString directoryOf(const QString& name)
{
    return name.left(name.lastIndexOf(QLatin1Char('/')) + 1);
}

// Nothing before the last dot of the final path component (or no character at all when the
// component has no dot): advancing starts a counter there.
bool hasNoCounter(const QString& name)
{
    const QString component = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = component.lastIndexOf(QLatin1Char('.'));
    return (dot < 0 ? component.size() : dot) == 0;
}

void checkAdvance(const QString& before, const QString& after)
{
    require(after != before, "advanceName returned its input");
    require(after.count(QLatin1Char('/')) == before.count(QLatin1Char('/')),
            "advanceName added or removed a slash");
    require(directoryOf(after) == directoryOf(before), "advanceName changed the directory");
    if (hasNoCounter(before))
        require(after.size() == before.size() + 2, "advanceName started no two-character counter");
    else
        require(after.size() == before.size(), "advanceName changed the length of a counted name");
}

// ---- PCX ----

// A pipe-like device: no seeking, no size. The reader must take the palette from the stream.
class SequentialBytes final : public QIODevice {
public:
    explicit SequentialBytes(const QByteArray& bytes) : m_bytes(bytes) { open(QIODevice::ReadOnly); }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return m_bytes.size() - m_pos + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, m_bytes.size() - m_pos);
        if (n <= 0)
            return -1;
        std::memcpy(data, m_bytes.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_pos = 0;
};

bool onlyBlackAndWhite(const QList<QRgb>& table)
{
    return std::all_of(table.begin(), table.end(), [](QRgb c) {
        return c == qRgb(0, 0, 0) || c == qRgb(255, 255, 255);
    });
}

void checkPcxImage(const QImage& image)
{
    const QImage::Format f = image.format();
    require(f == QImage::Format_Mono || f == QImage::Format_Indexed8 || f == QImage::Format_Grayscale8
                || f == QImage::Format_RGB888 || f == QImage::Format_RGB32 || f == QImage::Format_ARGB32,
            "PCX decoded to an unexpected pixel format");
    if (f == QImage::Format_Mono)
        require(image.colorCount() == 2, "1-bit PCX without two colours");
    if (f == QImage::Format_Indexed8 && qint64(image.width()) * image.height() <= kMaxCheckedPixels) {
        int highest = 0;
        for (int y = 0; y < image.height(); ++y) {
            const uchar* line = image.constScanLine(y);
            highest = std::max<int>(highest, *std::max_element(line, line + image.width()));
        }
        require(highest < image.colorCount(), "PCX pixel index outside its colour table");
    }
}

// What we decoded we must be able to write, and it must read back with the same colours.
void checkPcxRoundTrip(const QImage& image)
{
    if (qint64(image.width()) * image.height() > kMaxCheckedPixels)
        return;
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    require(writePcx(out, image, 300, 300), "a decoded PCX image could not be written");
    out.close();
    out.open(QIODevice::ReadOnly);
    PcxHandler handler;
    handler.setDevice(&out);
    QImage back;
    require(handler.read(&back), "a written PCX file did not read back");
    require(back.size() == image.size(), "PCX round trip changed the size");
    // 1-bit files are written black and white: only such tables survive unchanged.
    if (image.format() == QImage::Format_Mono && !onlyBlackAndWhite(image.colorTable()))
        return;
    require(back.convertToFormat(QImage::Format_RGB32) == image.convertToFormat(QImage::Format_RGB32),
            "PCX round trip changed pixels");
}

// ---- image files ----

// The bytes of the image under a file name, as the viewer gets it. A memory file when the
// system has them, else a temporary file.
class ImageSlot {
public:
    ImageSlot()
    {
        m_fd = memfd_create("kelvo-fuzz-image", MFD_CLOEXEC);
        if (m_fd >= 0) {
            m_path = QStringLiteral("/proc/self/fd/%1").arg(m_fd);
            if (QFileInfo::exists(m_path))
                return;
            close(m_fd);
        }
        m_path = QDir::tempPath() + QStringLiteral("/kelvo-fuzz-%1.img").arg(getpid());
        m_unlink = true;
        m_fd = open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    }
    ~ImageSlot()
    {
        if (m_fd >= 0)
            close(m_fd);
        if (m_unlink)
            QFile::remove(m_path);
    }
    ImageSlot(const ImageSlot&) = delete;
    ImageSlot& operator=(const ImageSlot&) = delete;

    bool put(const uint8_t* data, size_t size)
    {
        if (m_fd < 0 || ftruncate(m_fd, 0) != 0)
            return false;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = pwrite(m_fd, data + done, size - done, off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += size_t(n);
        }
        return true;
    }
    const QString& path() const { return m_path; }

private:
    int m_fd = -1;
    QString m_path;
    bool m_unlink = false;
};

bool knownFormatCode(int code)
{
    return code == 0 || code == FILE_PCX || code == FILE_GIF || code == FILE_BMP || code == FILE_JPEG
           || code == FILE_TIF || code == FILE_PNG;
}

// What the viewer does with a loaded page: paint a window's worth of it, invert on request.
void checkViewing(Bitmap& bitmap)
{
    if (qint64(bitmap.width) * bitmap.height > kMaxCheckedPixels)
        return;
    QImage window(64, 48, QImage::Format_ARGB32_Premultiplied);
    window.fill(Qt::white);
    {
        QPainter painter(&window);
        const QRect displayed(-bitmap.displayedWidth() / 3, -bitmap.displayedHeight() / 3,
                              bitmap.displayedWidth(), bitmap.displayedHeight());
        require(L_PaintDC(painter, bitmap, displayed, window.rect()) == SUCCESS,
                "a loaded bitmap could not be painted");
    }
    require(L_InvertBitmap(bitmap) == SUCCESS, "a loaded bitmap could not be inverted");
}

// ---- hand-off ----

class RecordingNotifier final : public Notifier {
public:
    QList<QByteArray> texts;
    void notify(const QByteArray& text) override { texts << text; }
};

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

void setViolationHandler(ViolationHandler handler)
{
    g_violation = handler ? handler : trapOnViolation;
}

bool commandLine(const uint8_t* data, size_t size)
{
    const QStringList args = splitArguments(bytesOf(data, size));

    // Switch values are upper-cased by the default locale's rules, as in the program.
    const QLocale saved;
    const QLocale c = QLocale::c();
    const QLocale german(QLocale::German, QLocale::Germany);
    QLocale::setDefault(c);
    const CommandLineResult inC = parseCommandLine(args, c);
    QLocale::setDefault(german);
    const CommandLineResult inGerman = parseCommandLine(args, german);
    QLocale::setDefault(saved);

    checkSettings(inC);
    checkSettings(inGerman);
    if (!hasNumberSwitch(args)) {
        require(inC.settings == inGerman.settings && inC.pageCounter == inGerman.pageCounter
                    && inC.conversionError == inGerman.conversionError && inC.refused == inGerman.refused,
                "a command line without numbers read differently in another locale");
    }

    const QString shown = displayCommandLine(args);
    bool anyWord = false;
    for (const QString& a : args) {
        if (a.isEmpty())
            continue;
        anyWord = true;
        require(shown.contains(a), "a word is missing from the shown command line");
        const QString format = extensionFormat(a);
        require(!format.contains(QLatin1Char('/')), "an extension format holds a slash");
        const QString component = a.mid(a.lastIndexOf(QLatin1Char('/')) + 1);
        if (!component.contains(QLatin1Char('.')))
            require(format.isEmpty(), "an extension format without a dot in the file name");
    }
    require(shown.isEmpty() == !anyWord, "the shown command line is empty exactly when no word is");
    require(!shown.startsWith(QLatin1Char(' ')) && !shown.endsWith(QLatin1Char(' ')),
            "the shown command line starts or ends with a blank");
    return inC.completed();
}

bool pageNaming(const uint8_t* data, size_t size)
{
    if (size == 0)
        return false;
    const int bits = data[0] == '1' ? 1 : data[0] == '8' ? 8 : 24;
    const QByteArray rest = bytesOf(data + 1, size - 1);
    const qsizetype newline = rest.indexOf('\n');
    QString name = QString::fromUtf8(newline < 0 ? rest : rest.left(newline));
    QString format = newline < 0 ? QString() : QString::fromUtf8(rest.mid(newline + 1));

    // Raw names, whatever they hold.
    checkAdvance(name, advanceName(name));

    // As the page handler gets them: OutputFormat comes from the command line, which reads
    // /C/x as a path, so it never holds a slash; at most 5 characters.
    format.remove(QLatin1Char('/'));
    format = upperNarrow(format.left(kMaxFormatChars));
    if (name.isEmpty())
        name = QLatin1String(kDefaultTargetName);
    const QString target = fromNarrow(toNarrow(name));

    const PageName page = pageNameFor(target, format, bits);
    require(!page.formatName.isEmpty(), "a page name without a format");
    require(page.writtenName.endsWith(page.formatName), "a written name does not end in its format");
    require(page.writtenName.count(QLatin1Char('/')) == target.count(QLatin1Char('/')),
            "a written name added or removed a slash");
    require(directoryOf(page.writtenName) == directoryOf(target), "a written name changed the directory");

    const StoreFormat how = storeFormatFor(page.formatName, bits);
    require(knownFormatCode(how.formatCode) && how.formatCode != 0, "a store format without a format code");
    require(how.bitsPerPixel == 1 || how.bitsPerPixel == 8 || how.bitsPerPixel == 24,
            "a store format with bits per pixel not 1, 8 or 24");

    // The names of the following pages: all different. A one-character counter has 36 values.
    QSet<QString> seen{page.writtenName};
    QString current = page.writtenName;
    for (int i = 0; i < 35; ++i) {
        const QString next = advanceName(current);
        checkAdvance(current, next);
        require(!seen.contains(next), "advancing repeated a page name");
        seen.insert(next);
        current = next;
    }
    return true;
}

bool pcx(const uint8_t* data, size_t size)
{
    QImageReader::setAllocationLimit(kPcxAllocationLimitMb);
    QByteArray bytes = bytesOf(data, size);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    PcxHandler handler;
    handler.setDevice(&buffer);
    const bool recognised = PcxHandler::canRead(&buffer);
    require(handler.canRead() == recognised, "PCX canRead differs between handler and device");
    require(buffer.pos() == 0, "PCX canRead moved the device");
    const QVariant announced = handler.option(QImageIOHandler::Size);
    require(announced.isValid() == recognised, "PCX size announced exactly for recognised files");

    QImage image;
    const bool decoded = handler.read(&image);
    require(decoded != image.isNull(), "PCX read result and image disagree");
    if (decoded) {
        require(recognised, "PCX decoded a file it did not recognise");
        require(image.size() == announced.toSize(), "PCX decoded size differs from the announced size");
        checkPcxImage(image);
        checkPcxRoundTrip(image);
    }

    SequentialBytes stream(bytes);
    PcxHandler streamHandler;
    streamHandler.setDevice(&stream);
    QImage streamed;
    const bool streamDecoded = PcxHandler::canRead(&stream) && streamHandler.read(&streamed);
    // Files and streams are read front to back alike, the palette included.
    require(streamDecoded == decoded, "PCX decodes from a file but not from a stream, or back");
    require(streamed == image, "PCX from a stream differs from the file");
    return decoded;
}

bool imageLoad(const uint8_t* data, size_t size)
{
    static ImageSlot slot;
    require(slot.put(data, size), "the image bytes could not be placed in a file");
    const QString& path = slot.path();

    // As the viewer opens a file: its information first, then the whole image.
    FileInfo info;
    info.StructSize = FILEINFO_SIZE;
    const int infoResult = L_FileInfo(path, info, FILEINFO_SIZE);
    require(infoResult == SUCCESS || infoResult == ERROR_FILE_READ, "L_FileInfo: unexpected result");
    if (infoResult == SUCCESS) {
        require(info.Width > 0 && info.Height > 0, "L_FileInfo: empty size");
        require(knownFormatCode(info.Format), "L_FileInfo: unknown format code");
        require(info.BitsPerPixel == 0 || info.BitsPerPixel == 1 || info.BitsPerPixel == 8
                    || info.BitsPerPixel == 24,
                "L_FileInfo: bits per pixel not 1, 8 or 24");
        require(info.ViewOrientation >= 1 && info.ViewOrientation <= 8, "L_FileInfo: orientation outside 1..8");
    }

    // The viewer loads only after a successful query; a refused file must fail cleanly too.
    Bitmap bitmap;
    const int loadResult = L_LoadFile(path, bitmap, infoResult == SUCCESS ? &info : nullptr);
    require(loadResult == SUCCESS || loadResult == ERROR_FILE_READ, "L_LoadFile: unexpected result");
    if (loadResult != SUCCESS) {
        require(!bitmap.allocated && bitmap.image.isNull(), "a failed L_LoadFile left a bitmap");
        return false;
    }
    require(bitmap.allocated && !bitmap.image.isNull(), "L_LoadFile succeeded without an image");
    require(bitmap.width == bitmap.image.width() && bitmap.height == bitmap.image.height(),
            "bitmap size differs from its image");
    require(bitmap.bitsPerPixel == 1 || bitmap.bitsPerPixel == 8 || bitmap.bitsPerPixel == 24,
            "bitmap bits per pixel not 1, 8 or 24");
    require(bitmap.viewOrientation >= 1 && bitmap.viewOrientation <= 8, "bitmap orientation outside 1..8");
    if (infoResult == SUCCESS && info.Format == FILE_PCX)
        require(bitmap.width == info.Width && bitmap.height == info.Height,
                "PCX loaded with another size than its information");
    checkViewing(bitmap);
    L_FreeBitmap(bitmap);
    require(!bitmap.allocated && bitmap.image.isNull(), "L_FreeBitmap left an image");
    return infoResult == SUCCESS;
}

bool handOff(const uint8_t* data, size_t size)
{
    const size_t countBytes = std::min<size_t>(size, 4);
    uint32_t raw = 0;
    for (size_t i = 0; i < countBytes; ++i)
        raw |= uint32_t(data[i]) << (8 * i);
    const int count = int(int32_t(raw));
    const QByteArray rest = bytesOf(data + countBytes, size - countBytes);
    const qsizetype nul = rest.indexOf('\0');
    const QByteArray fileName = nul < 0 ? rest : rest.left(nul);
    const QByteArray code = nul < 0 ? QByteArray() : rest.mid(nul + 1);

    const QByteArray number = QByteArray::number(count);
    const QByteArray record = handOffRecord(fileName, count, code);
    require(record.size() == fileName.size() + number.size() + code.size() + 2, "hand-off record length");
    require(record.startsWith(fileName) && record.endsWith(code),
            "hand-off record does not start with the name and end with the code");
    require(record.mid(fileName.size(), number.size() + 2) == '\'' + number + '\'',
            "hand-off count not between apostrophes");
    if (!fileName.contains('\'') && !code.contains('\'')) {
        const QList<QByteArray> fields = record.split('\'');
        bool ok = false;
        require(fields.size() == 3 && fields[1].toInt(&ok) == count && ok, "hand-off record does not read back");
    }

    const QByteArray text = notificationText(record);
    require(text.size() == record.size() + 9, "notification length");
    require(text.startsWith("\x04OBILD01") && text.endsWith('\x04') && text.mid(8, record.size()) == record,
            "notification framing");

    // The file holds the record; a notification goes out for more than one page; an
    // existing file is never overwritten.
    static QTemporaryDir directory;
    require(directory.isValid(), "no temporary directory for the hand-off file");
    const QString path = directory.path() + QLatin1String("/SendToKelvo.TXT");
    RecordingNotifier notifier;
    WriteHandOff(fileName, count, code, directory.path(), notifier);
    require(readFile(path) == record, "the hand-off file does not hold the record");
    require(notifier.texts == (count > 1 ? QList<QByteArray>{text} : QList<QByteArray>{}),
            "notification not sent exactly for more than one page");
    RecordingNotifier second;
    WriteHandOff(fileName + "-2", count, code, directory.path(), second);
    require(readFile(path) == record, "an existing hand-off file was overwritten");
    QFile::remove(path);
    return true;
}

} // namespace kelvo::fuzz
