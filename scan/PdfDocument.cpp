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
#include "platform/Paths.h"
#include "platform/Termination.h"
#include "platform/Text.h"
#include "scan/PdfEngine.h"
#include "scan/PdfSpool.h"

#include <QDateTime>
#include <QFile>
#include <QImage>
#include <QStringList>


#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
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

// Compresses a picture for the page: 1 bit as CCITT G4, gray as gray JPEG, everything else as
// colour JPEG (its rows are read directly and alpha is ignored).
std::optional<Picture> pictureOf(const QImage& img, QSize dotsPerMeter)
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
        pic.data = jpegOf(img, dotsPerMeter);
    }
    if (pic.data.empty())
        return std::nullopt;
    return pic;
}

// The picture of a page in memory. Its bitmap file would hold the page converted to
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
    return pictureOf(img, density);
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
    std::unique_ptr<PdfSpool> spool; // the coded pictures, read back when the document is written
    bool spoolFull = false;          // a picture found no room: the document cannot be written whole
    double resolution = 0;
    int pages = 0;
    std::vector<int> missing; // 1-based positions of pages that could not be added
    int positionCount() const { return pages + static_cast<int>(missing.size()); }
};

namespace {

// The folder a file name is in, as a native path.
QByteArray folderOf(const QByteArray& fileName)
{
    const qsizetype slash = fileName.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : fileName.left(slash);
}

} // namespace

PdfDocuments::PdfDocuments(ScanUi& ui, Launcher& launcher) : ui_(ui), launcher_(launcher) {}

PdfDocuments::~PdfDocuments() = default;

bool PdfDocuments::engineAvailable()
{
    return engineFactory() != nullptr;
}

QString PdfDocuments::targetProblem(const QByteArray& fileName)
{
    if (fileName.isEmpty() || fileName.endsWith('/') || fileName.contains('\0'))
        return QStringLiteral("kein Dateiname");
    return creationProblem(QFile::decodeName(fileName));
}

int PdfDocuments::CreatePdfDocument(double resolution, const QByteArray& fileName)
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
        // The pictures wait in the private temporary folder; where that cannot take them
        // (missing, full), beside the document, which needs that room when it is written anyway.
        std::vector<QByteArray> spoolFolders;
        if (const QString own = privateTempDir(); !own.isEmpty())
            spoolFolders.push_back(QFile::encodeName(own));
        if (!fileName.isEmpty())
            spoolFolders.push_back(folderOf(fileName));
        doc->spool = std::make_unique<PdfSpool>(std::move(spoolFolders));
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

bool PdfDocuments::AddPdfPage(int document, PdfPagePicture picture, double x, double y,
                              int /*pageNumber: pages are appended in call order*/, int pageDpi)
{
    const auto it = documents_.find(document);
    if (it == documents_.end())
        return false;
    Document& doc = *it->second;
    try {
        const Picture* pic = picture.d_ ? &picture.d_->picture : nullptr;
        if (!pic || doc.spoolFull) {
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
        const PdfSpool::Place place = doc.spool->append(pic->data);
        if (!place.source) {
            // Like a full disk while writing: the document cannot be written whole.
            std::fprintf(stderr, "Seite %d des PDF: kein Platz für ihr Bild, weder im temporären Verzeichnis "
                                 "noch beim Ziel; das PDF kann nicht geschrieben werden.\n",
                         doc.positionCount() + 1);
            std::fflush(stderr);
            doc.spoolFull = true;
            doc.missing.push_back(doc.positionCount() + 1);
            return false;
        }
        PdfEnginePicture enginePicture;
        enginePicture.kind = pic->kind;
        enginePicture.width = pic->width;
        enginePicture.height = pic->height;
        enginePicture.source = place.source;
        enginePicture.offset = place.offset;
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
        if (doc->pages > 0 && !doc->spoolFull) {
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
