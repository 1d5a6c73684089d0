// Per-page store cost: L_SaveBitmap against the bare encoder on the same pixels, for A4 pages
// at 150, 300 and 600 dpi, colour and 1 bit, in every format the page handler stores. The
// bare encoder is Qt's QImageWriter (JPEG, PNG, BMP) or our own codec (TIFF, GIF, PCX)
// writing straight onto a QFile in the same directory; the difference is what L_SaveBitmap
// adds (depth handling, the temporary file, sync and rename).
#include "scan/SaveBitmap.h"
#include "BenchSupport.h"

#include "imaging/GifWriter.h"
#include "imaging/ImageFile.h"
#include "imaging/Pcx.h"
#include "imaging/TiffWriter.h"

#include <QGuiApplication>
#include <QImageWriter>

using namespace bench;

namespace {

struct Format {
    const char* name;
    int code;
};
const Format kFormats[] = {{"JPEG", kelvo::FILE_JPEG}, {"PNG", kelvo::FILE_PNG}, {"BMP", kelvo::FILE_BMP},
                           {"TIFF", kelvo::FILE_TIF},  {"GIF", kelvo::FILE_GIF}, {"PCX", kelvo::FILE_PCX}};
constexpr int kJpegQuality = 95;
constexpr int kPngQuality = 85; // what L_SaveBitmap gives Qt: zlib level 1

// The bare encoder: the same codec with the same settings, straight onto a file.
bool bareWrite(const QString& name, const QImage& img, int format, int dpi)
{
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    bool ok = false;
    switch (format) {
    case kelvo::FILE_JPEG: {
        QImageWriter w(&file, "jpeg");
        w.setQuality(kJpegQuality);
        ok = w.write(img);
        break;
    }
    case kelvo::FILE_PNG: {
        QImageWriter w(&file, "png");
        w.setQuality(kPngQuality);
        ok = w.write(img);
        break;
    }
    case kelvo::FILE_BMP: {
        QImageWriter w(&file, "bmp");
        ok = w.write(img);
        break;
    }
    case kelvo::FILE_TIF: ok = kelvo::writeTiff(file, img, dpi, dpi); break;
    case kelvo::FILE_GIF: ok = kelvo::writeGif(file, img); break;
    case kelvo::FILE_PCX: ok = kelvo::writePcx(file, img, dpi, dpi); break;
    }
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

struct Case {
    int dpi;
    int bits;
    Format format;
    double ours = 0, bare = 0, ratio = 0;
    qint64 oursSize = 0, bareSize = 0;
    int n = 0;
    bool failed = false;
};

// Times one case: pairs in alternating order until the budget is used (at least one pair,
// at most fifteen), medians of each side. A cheap case gets one pair first that is not
// counted, so that neither side pays for first touches of fresh memory.
void measure(Case& c, const kelvo::Bitmap& page, const ScratchDir& dir, double budget)
{
    const QString oursName = dir.file(QStringLiteral("ours.out"));
    const QString bareName = dir.file(QStringLiteral("bare.out"));
    std::vector<double> ours, bare;
    const auto runOurs = [&] {
        const double t0 = now();
        const int rc = kelvo::L_SaveBitmap(oursName, page, c.format.code, c.bits, kJpegQuality);
        const double t = now() - t0;
        if (rc != kelvo::SUCCESS) {
            std::printf("  L_SaveBitmap failed: %d\n", rc);
            c.failed = true;
        }
        c.oursSize = QFileInfo(oursName).size();
        QFile::remove(oursName);
        ours.push_back(t);
    };
    const auto runBare = [&] {
        const double t0 = now();
        const bool ok = bareWrite(bareName, page.image, c.format.code, c.dpi);
        const double t = now() - t0;
        if (!ok) {
            std::printf("  bare encoder failed\n");
            c.failed = true;
        }
        c.bareSize = QFileInfo(bareName).size();
        QFile::remove(bareName);
        bare.push_back(t);
    };
    runOurs();
    runBare();
    if (ours.back() + bare.back() < 0.2) {
        ours.clear();
        bare.clear();
    }
    const double start = now();
    for (int i = 1; i < 15 && !c.failed && now() - start < budget; ++i) {
        if (i % 2 == 0) {
            runOurs();
            runBare();
        } else {
            runBare();
            runOurs();
        }
    }
    c.n = int(ours.size());
    c.ours = median(ours);
    c.bare = median(bare);
    c.ratio = c.ours / c.bare;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool quick = qEnvironmentVariableIntValue("KELVO_BENCH_QUICK") > 0;
    const double budget = qEnvironmentVariableIsSet("KELVO_BENCH_BUDGET")
                              ? qEnvironmentVariable("KELVO_BENCH_BUDGET").toDouble()
                              : 1.5;
    ScratchDir dir;
    if (!dir.ok()) {
        std::printf("cannot create a scratch directory\n");
        return 1;
    }
    heading("bench_store: L_SaveBitmap against the bare encoder, one A4 page");
    std::printf("directory %s; JPEG quality %d, PNG as L_SaveBitmap sets it (quality %d); "
                "median of up to 15 alternating pairs per case (about %.1f s each)\n",
                qPrintable(dir.path()), kJpegQuality, kPngQuality, budget);
    std::printf("1-bit JPEG is left out: the page handler stores 1-bit pages asked for as JPG as PCX.\n");
    if (quick)
        std::printf("KELVO_BENCH_QUICK: colour PNG and GIF left out at 600 dpi\n");

    // Warm up every codec once on a small page so that no case pays for loading a plugin.
    {
        const QImage small = makePage(64, 64, 150, 7);
        const kelvo::Bitmap b = kelvo::Bitmap::fromImage(small);
        for (const Format& f : kFormats) {
            kelvo::L_SaveBitmap(dir.file(QStringLiteral("warm")), b, f.code, 24, kJpegQuality);
            bareWrite(dir.file(QStringLiteral("warm")), small, f.code, 150);
        }
        QFile::remove(dir.file(QStringLiteral("warm")));
    }

    std::printf("\n  dpi  bits  format   L_SaveBitmap ms    bare ms    ratio    size ours / bare (KiB)   n\n");
    std::fflush(stdout);
    std::vector<Case> cases;
    for (const int dpi : {150, 300, 600}) {
        const QSize size = a4Pixels(dpi);
        const QImage colour = makePage(size.width(), size.height(), dpi, quint32(dpi));
        QImage mono = colour.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither | Qt::MonoOnly);
        for (const int bits : {24, 1}) {
            kelvo::Bitmap page = kelvo::Bitmap::fromImage(bits == 24 ? colour : mono);
            page.xResolution = page.yResolution = dpi;
            for (const Format& f : kFormats) {
                if (bits == 1 && f.code == kelvo::FILE_JPEG)
                    continue;
                if (dpi == 600 && bits == 24 && quick && (f.code == kelvo::FILE_PNG || f.code == kelvo::FILE_GIF))
                    continue;
                Case c{dpi, bits, f};
                measure(c, page, dir, budget);
                std::printf("  %3d  %4d  %-6s  %14.2f  %10.2f  %7.3f   %10.0f / %-10.0f %3d%s\n", dpi, bits, f.name,
                            c.ours * 1000, c.bare * 1000, c.ratio, c.oursSize / 1024.0, c.bareSize / 1024.0, c.n,
                            c.failed ? "  FAILED" : "");
                std::fflush(stdout);
                cases.push_back(c);
            }
        }
    }

    double logSum = 0;
    int counted = 0, meeting = 0;
    const Case* worst = nullptr;
    for (const Case& c : cases) {
        if (c.failed || !(c.ratio > 0))
            continue;
        logSum += std::log(c.ratio);
        ++counted;
        meeting += c.ratio <= 1.15;
        if (!worst || c.ratio > worst->ratio)
            worst = &c;
    }
    if (!counted) {
        result("store", QStringLiteral("no case measured"));
        return 1;
    }
    const double geo = std::exp(logSum / counted);
    std::printf("\n  geometric mean of the ratios %.3f; %d of %d cases within 1.15\n", geo, meeting, counted);
    result("store", QStringLiteral("L_SaveBitmap/bare geometric mean = %1, %2 of %3 cases within 1.15")
                        .arg(geo, 0, 'f', 3).arg(meeting).arg(counted));
    result("store", QStringLiteral("worst case %1 dpi %2 bit %3: ratio %4 (%5)")
                        .arg(worst->dpi).arg(worst->bits).arg(QLatin1String(worst->format.name))
                        .arg(worst->ratio, 0, 'f', 3).arg(verdict(worst->ratio, 1.15)));
    return 0;
}
