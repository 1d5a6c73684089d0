// A 10-page colour PDF at 300 dpi: our PdfDocuments (pages from the BMP files the page
// handler writes) against img2pdf over JPEG files of the same pages at the same quality,
// both measured in this run. Time and size of the PDF step alone, and of the whole way
// from page rasters in memory to the PDF (our BMP writes; Qt's JPEG writes). A third side
// builds the pages from memory: each picture encoded from the raster while another thread
// writes the page's temporary bitmap (unsynced), as the page handler can do it.
#include "scan/SaveBitmap.h"
#include "BenchSupport.h"

#include "imaging/ImageFile.h"
#include "imaging/ImageSave.h"
#include "scan/PdfDocument.h"

#include <QGuiApplication>
#include <QImageWriter>

#include <functional>

using namespace bench;

namespace {

constexpr int kPages = 10, kDpi = 300, kJpegQuality = 90;

struct QuietUi final : kelvo::ScanUi {
    int messageBox(const QString& text, const QString& caption, int flags) override
    {
        std::printf("  message: %s: %s\n", qPrintable(caption), qPrintable(text));
        return (flags & 0xF) == kelvo::MB_YESNO ? kelvo::IDNO : kelvo::IDOK;
    }
    void pushWaitCursor() override {}
    void popCursor() override {}
    void openChildWindow(const QString&) override {}
    void showAndActivateMainWindow() override {}
    void showStatus(const QString&) override {}
};
struct NoLauncher final : kelvo::Launcher {
    bool startViewer(const QString&, const QString&) override { return false; }
    bool openWithDefaultApplication(const QString&) override { return false; }
};

int pdfPages(const QString& qpdf, const QString& file)
{
    if (qpdf.isEmpty())
        return -1;
    const ChildRun r = runChild({qpdf, QStringLiteral("--show-npages"), file}, {}, {}, 60);
    bool ok = false;
    const int n = QString::fromUtf8(r.output).trimmed().toInt(&ok);
    return ok ? n : -1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The PDF engine module is built next to KelvoBild, not next to this program.
    if (qEnvironmentVariableIsEmpty("KELVO_MODULE_DIR"))
        qputenv("KELVO_MODULE_DIR", KELVO_BINARY_DIR);
    QGuiApplication app(argc, argv);
    const int runs = qEnvironmentVariableIntValue("KELVO_BENCH_RUNS") > 0
                         ? std::min(qEnvironmentVariableIntValue("KELVO_BENCH_RUNS"), 15)
                         : 5;
    heading("bench_pdf: 10 colour pages at 300 dpi into one PDF");
    const QString img2pdf = findProgram(QStringLiteral("img2pdf"));
    const QString qpdf = findProgram(QStringLiteral("qpdf"));
    if (img2pdf.isEmpty()) {
        std::printf("img2pdf is not installed: no peer, skipped\n");
        result("pdf", QStringLiteral("skipped (no img2pdf)"));
        return 0;
    }
    ScratchDir dir;
    if (!dir.ok()) {
        std::printf("cannot create a scratch directory\n");
        return 1;
    }

    const QSize a4 = a4Pixels(kDpi);
    std::vector<kelvo::Bitmap> pages;
    for (int i = 0; i < kPages; ++i) {
        kelvo::Bitmap b = kelvo::Bitmap::fromImage(makePage(a4.width(), a4.height(), kDpi, quint32(1000 + i)));
        b.xResolution = b.yResolution = kDpi;
        pages.push_back(std::move(b));
    }
    std::printf("pages: %d x %d px RGB888 each, in %s; %d runs per side, alternating\n", a4.width(),
                a4.height(), qPrintable(dir.path()), runs);
    std::fflush(stdout);

    QuietUi ui;
    NoLauncher launcher;
    kelvo::PdfDocuments pdf(ui, launcher);
    std::vector<double> oursBmp, oursPdf, peerJpeg, peerPdf, memoryWhole;
    qint64 memorySize = 0;
    const QString memoryOut = dir.file(QStringLiteral("memory.pdf"));
    qint64 oursSize = 0, peerSize = 0;
    const QString oursOut = dir.file(QStringLiteral("ours.pdf"));
    const QString peerOut = dir.file(QStringLiteral("img2pdf.pdf"));
    QStringList jpegs, bitmaps;
    for (int i = 0; i < kPages; ++i) {
        jpegs << dir.file(QStringLiteral("p%1.jpg").arg(i + 1, 2, 10, QLatin1Char('0')));
        bitmaps << dir.file(QStringLiteral("Scan%1.BMP").arg(i)); // the page handler's names
    }

    const auto runOurs = [&] {
        const double t0 = now();
        for (int i = 0; i < kPages; ++i)
            if (kelvo::L_SaveBitmap(bitmaps[i], pages[i], kelvo::FILE_BMP, 24, 0, 0600) != kelvo::SUCCESS)
                std::printf("  BMP write failed: %s\n", qPrintable(bitmaps[i]));
        const double t1 = now();
        const int doc = pdf.CreatePdfDocument(kDpi);
        for (int i = 0; i < kPages; ++i)
            pdf.AddPdfPage(doc, bitmaps[i].toLocal8Bit(), 0.2, 0.2, i);
        pdf.WritePdfDocument(doc, oursOut.toLocal8Bit(), 0);
        const double t2 = now();
        oursBmp.push_back(t1 - t0);
        oursPdf.push_back(t2 - t1);
        oursSize = QFileInfo(oursOut).size();
        for (const QString& b : bitmaps)
            QFile::remove(b);
    };
    const auto runMemory = [&] {
        const double t0 = now();
        const int doc = pdf.CreatePdfDocument(kDpi);
        for (int i = 0; i < kPages; ++i) {
            int status = 0;
            std::thread writer([&] { status = kelvo::saveScratchBitmap(bitmaps[i], pages[i], 24, 0600); });
            kelvo::PdfPagePicture picture = kelvo::PdfDocuments::encodePagePicture(pages[i]);
            writer.join();
            if (status != kelvo::SUCCESS)
                std::printf("  BMP write failed: %s\n", qPrintable(bitmaps[i]));
            else
                pdf.AddPdfPage(doc, std::move(picture), 0.2, 0.2, i);
        }
        pdf.WritePdfDocument(doc, memoryOut.toLocal8Bit(), 0);
        memoryWhole.push_back(now() - t0);
        memorySize = QFileInfo(memoryOut).size();
        for (const QString& b : bitmaps)
            QFile::remove(b);
    };
    const auto runPeer = [&] {
        const double t0 = now();
        for (int i = 0; i < kPages; ++i) {
            QImageWriter w(jpegs[i], "jpeg");
            w.setQuality(kJpegQuality);
            if (!w.write(pages[i].image))
                std::printf("  JPEG write failed: %s\n", qPrintable(jpegs[i]));
        }
        const double t1 = now();
        QStringList args{img2pdf, QStringLiteral("-o"), peerOut};
        args += jpegs;
        const ChildRun r = runChild(args, {}, {}, 300);
        if (!r.ok())
            std::printf("  img2pdf failed (exit %d): %s\n", r.exitCode, r.output.left(300).constData());
        peerJpeg.push_back(t1 - t0);
        peerPdf.push_back(r.seconds);
        peerSize = QFileInfo(peerOut).size();
    };
    const std::function<void()> sides[] = {runOurs, runMemory, runPeer};
    for (int i = 0; i < runs; ++i)
        for (int k = 0; k < 3; ++k)
            sides[(k + i) % 3](); // the order turns from run to run

    const int oursPages = pdfPages(qpdf, oursOut);
    const int memoryPages = pdfPages(qpdf, memoryOut);
    const int peerPages = pdfPages(qpdf, peerOut);
    const double pdfStep = median(oursPdf) / median(peerPdf);
    const double whole = (median(oursBmp) + median(oursPdf)) / (median(peerJpeg) + median(peerPdf));
    std::printf("\n                                   ours (PdfDocuments)   peer (img2pdf)    ratio ours/peer\n");
    std::printf("  PDF step only                     %9.3f s          %9.3f s        %.3f\n", median(oursPdf),
                median(peerPdf), pdfStep);
    std::printf("  page files written before          %9.3f s (BMP)    %9.3f s (JPEG q%d)\n", median(oursBmp),
                median(peerJpeg), kJpegQuality);
    std::printf("  page files + PDF                  %9.3f s          %9.3f s        %.3f\n",
                median(oursBmp) + median(oursPdf), median(peerJpeg) + median(peerPdf), whole);
    const double memoryRatio = median(memoryWhole) / (median(peerJpeg) + median(peerPdf));
    std::printf("  from memory, bitmap beside         %9.3f s          %9.3f s        %.3f\n", median(memoryWhole),
                median(peerJpeg) + median(peerPdf), memoryRatio);
    std::printf("  output size                       %9.2f MiB        %9.2f MiB      %.3f  (from memory %.2f MiB)\n",
                mib(oursSize), mib(peerSize), double(oursSize) / double(peerSize), mib(memorySize));
    std::printf("  pages (qpdf --show-npages)        %9d            %9d         (from memory %d)\n", oursPages,
                peerPages, memoryPages);
    std::printf("  (img2pdf puts the JPEG files in as they are; ours reads each BMP and encodes its JPEG itself.)\n");
    result("pdf", QStringLiteral("PDF step ours/img2pdf = %1 (%2 s vs %3 s); with page files %4; size ratio %5")
                      .arg(pdfStep, 0, 'f', 2).arg(median(oursPdf), 0, 'f', 2).arg(median(peerPdf), 0, 'f', 2)
                      .arg(whole, 0, 'f', 2).arg(double(oursSize) / double(peerSize), 0, 'f', 3));
    result("pdf", QStringLiteral("from memory with the bitmap beside: %1 s for 10 pages, ours/(JPEG files + img2pdf) = %2 "
                                 "(through bitmap files %3 s)")
                      .arg(median(memoryWhole), 0, 'f', 3).arg(memoryRatio, 0, 'f', 2)
                      .arg(median(oursBmp) + median(oursPdf), 0, 'f', 3));
    return 0;
}
