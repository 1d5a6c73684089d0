#include "scan/SaveBitmap.h"
#include "scan/PdfDocument.h"

#include "platform/AtomicFile.h"
#include "imaging/CcittG4.h"
#include "imaging/CodecSupport.h"
#include "imaging/ImageFile.h"
#include "imaging/ImageSave.h"
#include "imaging/JpegWriter.h"
#include "platform/FileSystem.h"
#include "platform/Module.h"
#include "platform/Termination.h"
#include "platform/Text.h"
#include "scan/PdfEngine.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QStringList>


#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kelvo {

namespace {

constexpr double kPointsPerCm = 72.0 / 2.54;
constexpr int kJpegQuality = 90;

const char* const kFailureText = "Datei konnte nicht geschrieben werden: ";
const char* const kFailureCaption = "Error PDF schreiben";

using PictureKind = PdfPictureKind;

struct Picture {
    PictureKind kind = PictureKind::RgbJpeg;
    int width = 0;
    int height = 0;
    int fileDpi = 0; // resolution recorded in the bitmap file, 0 when none
    std::string data;
};

// The resolution stamp is the one the picture would carry read back from its bitmap file.
std::string jpegOf(const QImage& img, QSize dotsPerMeter)
{
    return encodeJpeg(img, kJpegQuality, dotsPerMeter.width(), dotsPerMeter.height()).toStdString();
}

// A colour picture without transparency: alpha is laid over white paper.
QImage opaqueRgb(const QImage& img)
{
    if (!img.hasAlphaChannel())
        return img.convertToFormat(QImage::Format_RGB32);
    QImage out(img.size(), QImage::Format_RGB32);
    if (out.isNull())
        return out;
    out.fill(Qt::white);
    QPainter painter(&out);
    painter.drawImage(0, 0, img);
    painter.end();
    return out;
}

// Qt's BMP reader accepts a file cut short in its pixel rows and fills in the rest: refuse an
// uncompressed BMP shorter than its header promises. Other files are left to the reader.
bool bitmapFileComplete(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray h = file.read(34);
    if (!h.startsWith("BM"))
        return true;
    if (h.size() < 26)
        return false;
    const auto u16 = [&](int o) { return quint32(uchar(h[o])) | (quint32(uchar(h[o + 1])) << 8); };
    const auto u32 = [&](int o) { return u16(o) | (u16(o + 2) << 16); };
    const quint32 dataOffset = u32(10);
    const quint32 infoSize = u32(14);
    qint64 width = 0, height = 0;
    quint32 bits = 0, compression = 0;
    if (infoSize == 12) {
        width = u16(18);
        height = u16(20);
        bits = u16(24);
    } else {
        if (h.size() < 34)
            return false;
        width = static_cast<qint32>(u32(18));
        height = std::abs(static_cast<qint64>(static_cast<qint32>(u32(22))));
        bits = u16(28);
        compression = u32(30);
    }
    constexpr quint32 kRgb = 0, kBitFields = 3, kAlphaBitFields = 6;
    if (compression != kRgb && compression != kBitFields && compression != kAlphaBitFields)
        return true;
    if (width <= 0 || bits == 0 || bits > 32)
        return true;
    const qint64 rowBytes = (width * bits + 31) / 32 * 4;
    return file.size() >= static_cast<qint64>(dataOffset) + rowBytes * height;
}

// Compresses a picture for the page: 1 bit as CCITT G4, gray as gray JPEG, everything else as
// colour JPEG. `rgb` is the colour picture to code when the image is neither.
std::optional<Picture> pictureOf(const QImage& img, QSize dotsPerMeter,
                                 const std::function<QImage(const QImage&)>& rgb)
{
    if (img.isNull() || img.width() <= 0 || img.height() <= 0)
        return std::nullopt;
    Picture pic;
    pic.width = img.width();
    pic.height = img.height();
    pic.fileDpi = dpiOf(dotsPerMeter.width());

    if (img.depth() == 1) {
        pic.kind = PictureKind::Ccitt;
        pic.data = encodeCcittG4(img).toStdString();
    } else if (img.format() == QImage::Format_Grayscale8 || img.format() == QImage::Format_Grayscale16
               || (img.format() == QImage::Format_Indexed8 && img.allGray())) {
        pic.kind = PictureKind::GrayJpeg;
        pic.data = jpegOf(img.format() == QImage::Format_Grayscale8 ? img : img.convertToFormat(QImage::Format_Grayscale8),
                          dotsPerMeter);
    } else {
        pic.kind = PictureKind::RgbJpeg;
        const QImage colour = rgb(img);
        if (colour.isNull())
            return std::nullopt;
        pic.data = jpegOf(colour, dotsPerMeter);
    }
    if (pic.data.empty())
        return std::nullopt;
    return pic;
}

// Reads the page bitmap and compresses it for the page.
std::optional<Picture> encodePicture(const QString& fileName)
{
    ensureImageReadersReady();

    if (!bitmapFileComplete(fileName))
        return std::nullopt;
    QImageReader reader(fileName);
    reader.setDecideFormatFromContent(true);
    QImage img;
    if (!reader.read(&img))
        return std::nullopt;
    return pictureOf(img, QSize(img.dotsPerMeterX(), img.dotsPerMeterY()), opaqueRgb);
}

// The same picture from the page in memory. The bitmap file would hold the page converted to
// its bits per pixel as L_SaveBitmap stores it, 1 bit with its first two colours (black and
// white without them), colour without alpha; read back, the file's resolution is the page's
// (Qt's default when the page has none).
std::optional<Picture> encodePicture(const Bitmap& page)
{
    const int bits = page.bitsPerPixel;
    if (!page.allocated || page.image.isNull() || (bits != 1 && bits != 8 && bits != 24))
        return std::nullopt;
    QImage img = writableImage(imageToStore(page.image, FILE_BMP, bits));
    if (img.depth() == 1 && img.colorTable().size() != 2) {
        QList<QRgb> table = img.colorTable();
        table.resize(2);
        img.setColorTable(img.colorTable().size() < 2 ? QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)} : table);
    }
    const auto density1D = [](int dpi) {
        // without one, what a freshly read image carries
        return dpi > 0 ? dotsPerMeter(dpi) : QImage(1, 1, QImage::Format_Mono).dotsPerMeterX();
    };
    const QSize density(density1D(page.xResolution), density1D(page.yResolution));
    // Colour goes to the encoder as it is: its rows are read directly and alpha is ignored.
    return pictureOf(img, density, [](const QImage& colour) { return colour; });
}

std::string pdfDate(const QDateTime& t)
{
    const int offset = t.offsetFromUtc() / 60;
    const int absOffset = std::abs(offset);
    const QString s = QStringLiteral("D:%1%2%3'%4'")
                          .arg(t.toString(QStringLiteral("yyyyMMddHHmmss")))
                          .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                          .arg(absOffset / 60, 2, 10, QLatin1Char('0'))
                          .arg(absOffset % 60, 2, 10, QLatin1Char('0'));
    return s.toStdString();
}

// The document information every PDF carries, dated now.
bool setDocumentInfo(PdfEngineDocument& pdf)
{
    const std::string now = pdfDate(QDateTime::currentDateTime());
    PdfEngineInfo info;
    info.title = "KELVO-Archivdokument";
    info.author = "Kelvo eG";
    info.subject = "Archivierung";
    info.keywords = "KELVO Scanner Archiv";
    info.creator = "KelvoBild";
    info.producer = "KelvoBild";
    info.creationDate = now.c_str();
    info.modificationDate = now.c_str();
    return pdf.setInfo(info);
}

// The engine's factory, from its module loaded on first use; null when it cannot be loaded
// or is of another interface version (said once on standard error).
KelvoPdfEngineNewDocument engineFactory()
{
    static const KelvoPdfEngineNewDocument factory = []() -> KelvoPdfEngineNewDocument {
        void* module = loadModule(kPdfEngineModule);
        if (!module)
            return nullptr;
        const auto* version = static_cast<const int*>(moduleSymbol(module, kPdfEngineVersionSymbol));
        auto* make = reinterpret_cast<KelvoPdfEngineNewDocument>(moduleSymbol(module, kPdfEngineFactorySymbol));
        if (!version || *version != kPdfEngineVersion || !make) {
            std::fprintf(stderr, "Modul %s nicht geladen: Schnittstelle %d erwartet, %s\n", kPdfEngineModule,
                         kPdfEngineVersion,
                         version ? ("Version " + std::to_string(*version) + " gefunden").c_str() : "Einsprung fehlt");
            std::fflush(stderr);
            return nullptr;
        }
        return make;
    }();
    return factory;
}

// Written next to the target and put in its place only when complete (platform/FileSystem.h).
bool writeReplacing(PdfEngineDocument& pdf, const QByteArray& target)
{
    return kelvo::writeReplacing(fromNarrow(target), [&](std::FILE* file, const char* tempName) {
        return pdf.write(file, tempName);
    });
}

} // namespace

struct PdfDocuments::Document {
    std::unique_ptr<PdfEngineDocument> pdf;
    double resolution = 0;
    int pages = 0;
    std::vector<int> missing; // 1-based positions of pages that could not be added
    int positionCount() const { return pages + static_cast<int>(missing.size()); }
};

PdfDocuments::PdfDocuments(ScanUi& ui, Launcher& launcher) : ui_(ui), launcher_(launcher) {}

PdfDocuments::~PdfDocuments() = default;

bool PdfDocuments::engineAvailable()
{
    return engineFactory() != nullptr;
}

int PdfDocuments::CreatePdfDocument(double resolution)
{
    try {
        const KelvoPdfEngineNewDocument newDocument = engineFactory();
        if (!newDocument)
            return 0;
        auto doc = std::make_unique<Document>();
        doc->pdf.reset(newDocument());
        keepExitHandlerFirst(); // qpdf makes some of its lasting objects on first use
        if (!doc->pdf)
            return 0;
        doc->resolution = resolution;
        int handle = lastHandle_;
        do {
            handle = handle >= INT_MAX ? 1 : handle + 1;
        } while (documents_.count(handle));
        documents_.emplace(handle, std::move(doc));
        lastHandle_ = handle;
        return handle;
    } catch (...) {
        return 0;
    }
}

struct PdfPagePicture::Data {
    Picture picture;
};

PdfPagePicture::PdfPagePicture() = default;
PdfPagePicture::~PdfPagePicture() = default;
PdfPagePicture::PdfPagePicture(PdfPagePicture&&) noexcept = default;
PdfPagePicture& PdfPagePicture::operator=(PdfPagePicture&&) noexcept = default;

// A coded picture, or a null one when coding fails in any way.
template <typename Encode>
PdfPagePicture PdfDocuments::pagePicture(Encode encode)
{
    PdfPagePicture result;
    try {
        if (std::optional<Picture> pic = encode())
            result.d_.reset(new PdfPagePicture::Data{std::move(*pic)});
    } catch (...) {
        result.d_.reset();
    }
    return result;
}

PdfPagePicture PdfDocuments::encodePagePicture(const Bitmap& page)
{
    return pagePicture([&] { return encodePicture(page); });
}

bool PdfDocuments::AddPdfPage(int document, const QByteArray& bitmapFileName, double x, double y,
                              int pageNumber, int pageDpi)
{
    if (!documents_.count(document))
        return false; // spare reading the file
    return AddPdfPage(document, pagePicture([&] { return encodePicture(fromNarrow(bitmapFileName)); }), x, y,
                      pageNumber, pageDpi);
}

bool PdfDocuments::AddPdfPage(int document, const Bitmap& page, double x, double y, int pageNumber,
                              int pageDpi)
{
    if (!documents_.count(document))
        return false;
    return AddPdfPage(document, encodePagePicture(page), x, y, pageNumber, pageDpi);
}

bool PdfDocuments::AddPdfPage(int document, PdfPagePicture picture, double x, double y,
                              int /*pageNumber: pages are appended in call order*/, int pageDpi)
{
    const auto it = documents_.find(document);
    if (it == documents_.end())
        return false;
    Document& doc = *it->second;
    try {
        const Picture* pic = picture.d_ ? &picture.d_->picture : nullptr;
        if (!pic) {
            doc.missing.push_back(doc.positionCount() + 1);
            return false;
        }
        // The page's resolution is the one it was scanned at when the caller knows it, else
        // the scan resolution truncated; without a usable one, the bitmap's own, else 72 dpi
        // (one pixel per point).
        int dpi = pageDpi;
        if (dpi < 1 && std::isfinite(doc.resolution) && doc.resolution >= 1)
            dpi = static_cast<int>(std::min(doc.resolution, 1.0e6));
        if (dpi < 1)
            dpi = pic->fileDpi > 0 ? pic->fileDpi : 72;
        const auto toPoints = [](double cm) {
            return std::isfinite(cm) ? std::clamp(cm, 0.0, 1.0e4) * kPointsPerCm : 0.0;
        };
        PdfEnginePicture enginePicture;
        enginePicture.kind = pic->kind;
        enginePicture.width = pic->width;
        enginePicture.height = pic->height;
        enginePicture.data = pic->data.data();
        enginePicture.size = pic->data.size();
        const bool appended = doc.pdf->appendPage(enginePicture, dpi, toPoints(x), toPoints(y));
        keepExitHandlerFirst();
        if (!appended) {
            doc.missing.push_back(doc.positionCount() + 1);
            return false;
        }
        ++doc.pages;
        return true;
    } catch (...) {
        doc.missing.push_back(doc.positionCount() + 1);
        return false;
    }
}

void PdfDocuments::NotePageMissing(int document)
{
    const auto it = documents_.find(document);
    if (it != documents_.end())
        it->second->missing.push_back(it->second->positionCount() + 1);
}

int PdfDocuments::WritePdfDocument(int document, const QByteArray& fileName, int openAfterWrite)
{
    bool ok = false;
    std::vector<int> missing;
    const auto it = documents_.find(document);
    if (it != documents_.end()) {
        std::unique_ptr<Document> doc = std::move(it->second);
        documents_.erase(it);
        missing = doc->missing;
        if (doc->pages > 0) {
            try {
                ok = setDocumentInfo(*doc->pdf) && writeReplacing(*doc->pdf, fileName);
                keepExitHandlerFirst();
            } catch (...) {
                ok = false;
            }
        }
    }

    const QString name = fromNarrow(fileName);
    if (!ok) {
        ui_.messageBox(QString::fromUtf8(kFailureText) + name, QString::fromUtf8(kFailureCaption),
                       MB_OK);
        return 0;
    }
    if (!missing.empty())
        ui_.messageBox(missingPagesText(missing, name), QStringLiteral("Scan in PDF"), MB_OK);
    if (openAfterWrite)
        launcher_.openWithDefaultApplication(name);
    return 1;
}

QString missingPagesText(const std::vector<int>& positions, const QString& fileName)
{
    QStringList numbers;
    for (int p : positions)
        numbers << QString::number(p);
    const QString which = positions.size() == 1 ? QStringLiteral("Seite %1 fehlt").arg(numbers.first())
                                                : QStringLiteral("Seiten %1 fehlen").arg(numbers.join(QStringLiteral(", ")));
    return QStringLiteral("%1 in %2: nicht gespeichert oder nicht lesbar.").arg(which, fileName);
}

} // namespace kelvo
