// Memory and time of long PDF documents, and of a long unattended JPEG run. Each row is a
// fresh child process (this program started again with --child) that reads its own peak
// resident set (VmHWM):
//   builder  PdfDocuments fed with synthetic 300 dpi colour pages (10, 100, 1,000 pages): each
//            picture coded from the raster and added, then the document written;
//   chain    the program's main window run as `-S /X /P300 /CPDF …` on SANE's test backend
//            (10 pages per pass), its question "Weitere Seite(n) scannen?" answered Yes until
//            the chain has the pages asked for;
//   jpeg     the same window run as `-S /X /P300 …` (JPEG files), its scan started again in the
//            same process until the pages asked for are stored, as one long unattended run.
// The peer of each long row is the same row at 10 pages in the same run: memory must not grow
// with the page count (1,000-page builder peak <= 250 MB) and the time per page must stay
// (1,000 pages within 1.2 x the time per page at 10).
#include "BenchStubs.h"
#include "BenchSupport.h"

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "scanner/sane/SaneTwain.h"
#include "scan/PdfDocument.h"

#include <QApplication>
#include <QDir>

#include <sys/resource.h>

#include <cstring>
#include <map>

using namespace bench;

namespace {

constexpr int kDpi = 300;

// Processor time of this process so far (user and system, all threads), seconds: unlike
// the time on the clock, hardly moved by other processes on a busy machine.
double cpuSeconds()
{
    rusage u {};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// --- child side ------------------------------------------------------------------------

int childBuilder(int pages, const QString& dir)
{
    const QSize a4 = a4Pixels(kDpi);
    std::vector<kelvo::Bitmap> rasters; // two different pages, taking turns
    for (quint32 seed : {1000u, 1001u}) {
        kelvo::Bitmap b = kelvo::Bitmap::fromImage(makePage(a4.width(), a4.height(), kDpi, seed));
        b.xResolution = b.yResolution = kDpi;
        rasters.push_back(std::move(b));
    }
    const long idleKb = peakRssKb();
    QuietUi ui;
    NoLauncher launcher;
    kelvo::PdfDocuments pdf(ui, launcher);
    const QString target = dir + QStringLiteral("/builder.pdf");
    const double c0 = cpuSeconds();
    const double t0 = now();
    const int doc = pdf.CreatePdfDocument(kDpi, QFile::encodeName(target));
    int added = 0;
    for (int i = 0; i < pages; ++i)
        added += pdf.AddPdfPage(doc, kelvo::PdfDocuments::encodePagePicture(rasters[i % rasters.size()]), 0.2, 0.2, i);
    const double t1 = now();
    const int written = pdf.WritePdfDocument(doc, QFile::encodeName(target), 0);
    const double t2 = now();
    std::printf("ok=%d\npages=%d\nseconds=%.3f\ncpu_seconds=%.3f\nwrite_seconds=%.3f\nidle_kb=%ld\npeak_kb=%ld\n"
                "size=%lld\n",
                written == 1 && added == pages, added, t2 - t0, cpuSeconds() - c0, t2 - t1, idleKb, peakRssKb(),
                static_cast<long long>(QFileInfo(target).size()));
    QFile::remove(target);
    return 0;
}

// The main window's unattended scan, as the program runs it; `passes` scans of the feeder.
int childScan(const QString& format, int passes, const QString& dir)
{
    int asked = 0;
    QStringList peaks; // VmHWM after each pass, kB
    kelvo::setMessageHook([&](const QString& text, const QString& caption, int flags) {
        if ((flags & 0xF) == kelvo::MB_YESNO) {
            peaks << QString::number(peakRssKb());
            return ++asked < passes ? kelvo::IDYES : kelvo::IDNO;
        }
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(caption), qPrintable(text));
        return kelvo::IDOK;
    });
    kelvo::SaneTwain twain;
    NoLauncher launcher;
    NoNotifier notifier;
    kelvo::SessionState session;
    const QString first = dir + QStringLiteral("/C01.") + format;
    const QString handOff = dir + QStringLiteral("/SendToKelvo.TXT");
    const double c0 = cpuSeconds();
    const double t0 = now();
    // An unattended run scans inside the constructor; a PDF chain ends there too.
    kelvo::TKelvoScan window(QStringList{QStringLiteral("KelvoBild"), QStringLiteral("-S"), QStringLiteral("/X"),
                                         QStringLiteral("/P%1").arg(kDpi), QStringLiteral("/C") + format, first},
                             QLocale::c(), kelvo::Services{&twain, &launcher, &notifier, dir}, session);
    for (int pass = 1; format != QLatin1String("PDF") && pass < passes; ++pass) {
        peaks << QString::number(peakRssKb());
        QFile::remove(handOff); // each pass hands off its own pages
        window.FileScan1Execute();
    }
    if (format != QLatin1String("PDF"))
        peaks << QString::number(peakRssKb());
    const double t1 = now();
    qint64 size = 0;
    int files = 0;
    for (const QFileInfo& f : QDir(dir).entryInfoList({QStringLiteral("C*.") + format}, QDir::Files)) {
        size += f.size();
        ++files;
        QFile::remove(f.filePath());
    }
    QFile h(handOff);
    const QByteArray handed = h.open(QIODevice::ReadOnly) ? h.readAll() : QByteArray("<none>");
    h.close();
    QFile::remove(handOff);
    std::printf("ok=%d\nfiles=%d\nhandoff=%s\nseconds=%.3f\ncpu_seconds=%.3f\npeak_kb=%ld\npass_peaks_kb=%s\n"
                "size=%lld\n",
                files > 0, files, handed.constData(), t1 - t0, cpuSeconds() - c0, peakRssKb(), qPrintable(peaks.join(QLatin1Char(','))),
                static_cast<long long>(size));
    return 0;
}

// --- parent side -----------------------------------------------------------------------

QList<int> counts(const char* variable, const char* fallback)
{
    QList<int> n;
    const QString text = qEnvironmentVariableIsSet(variable) ? qEnvironmentVariable(variable) : QLatin1String(fallback);
    for (const QString& part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (part.toInt() > 0)
            n << part.toInt();
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    prepareEnvironment();
    if (argc >= 5 && std::strcmp(argv[1], "--child") == 0) {
        QApplication app(argc, argv);
        const QString mode = QString::fromLocal8Bit(argv[2]);
        const int n = std::atoi(argv[3]);
        const QString dir = QString::fromLocal8Bit(argv[4]);
        if (mode == QLatin1String("builder"))
            return childBuilder(n, dir);
        return childScan(mode == QLatin1String("chain") ? QStringLiteral("PDF") : QStringLiteral("JPG"), n, dir);
    }
    QCoreApplication app(argc, argv);
    heading("bench_pdf_memory: long PDF documents and a long unattended JPEG run, 300 dpi colour");
    // Gigabytes of pages and spool: on disk, not on tmpfs.
    const QString base = qEnvironmentVariableIsSet("KELVO_BENCH_DISK_DIR") ? qEnvironmentVariable("KELVO_BENCH_DISK_DIR")
                                                                         : QDir::tempPath();
    QTemporaryDir dir(base + QStringLiteral("/kelvo-bench-XXXXXX"));
    if (!dir.isValid()) {
        std::printf("cannot create a scratch directory in %s\n", qPrintable(base));
        return 1;
    }
    const QString self = QCoreApplication::applicationFilePath();
    const QString saneConfig = qEnvironmentVariableIsEmpty("SANE_CONFIG_DIR") ? QStringLiteral(KELVO_SOURCE_DIR "/sane")
                                                                              : qEnvironmentVariable("SANE_CONFIG_DIR");
    const QStringList env{QStringLiteral("TMP=") + dir.path(), QStringLiteral("SANE_CONFIG_DIR=") + saneConfig,
                          QStringLiteral("SANE_DEFAULT_DEVICE=test:0"),
                          QStringLiteral("KELVO_SANE_OPTIONS=") + (qEnvironmentVariableIsSet("KELVO_SANE_OPTIONS")
                                                                       ? qEnvironmentVariable("KELVO_SANE_OPTIONS")
                                                                       : QStringLiteral("test-picture=Color pattern"))};
    std::printf("scratch and TMP: %s\n", qPrintable(dir.path()));

    struct Row {
        QString what;
        int pages = 0;
        double seconds = 0;
        double cpu = 0;
        double peakMb = 0;
        double sizeMb = 0;
        QString note;
    };
    // A short row is run three times (medians): its few seconds are what the long rows are
    // measured against.
    const auto run = [&](const QString& mode, int n, int pages) {
        Row row{mode, pages, 0, 0, 0, 0, {}};
        std::vector<double> wall, cpu;
        std::map<QString, QString> v;
        for (int repeat = 0; repeat < (pages <= 10 ? 3 : 1) && row.note.isEmpty(); ++repeat) {
            const ChildRun r = runChild({self, QStringLiteral("--child"), mode, QString::number(n), dir.path()}, env, {}, 7200);
            v = childValues(r.output);
            if (!r.ok() || v[QStringLiteral("ok")] != QLatin1String("1")) {
                std::printf("  %s %d: failed (exit %d): %s\n", qPrintable(mode), pages, r.exitCode,
                            r.output.right(600).constData());
                row.note = QStringLiteral("FAILED");
            }
            wall.push_back(v[QStringLiteral("seconds")].toDouble());
            cpu.push_back(v[QStringLiteral("cpu_seconds")].toDouble());
            row.peakMb = std::max(row.peakMb, v[QStringLiteral("peak_kb")].toDouble() / 1024);
            row.sizeMb = v[QStringLiteral("size")].toDouble() / (1024 * 1024);
        }
        row.seconds = median(wall);
        row.cpu = median(cpu);
        if (!row.note.isEmpty()) {
        } else if (mode == QLatin1String("builder")) {
            row.note = QStringLiteral("rasters alone %1 MB; writing %2 s")
                           .arg(v[QStringLiteral("idle_kb")].toDouble() / 1024, 0, 'f', 0)
                           .arg(v[QStringLiteral("write_seconds")]);
        } else {
            row.note = QStringLiteral("%1 files; hand-off %2; peak after each pass (MB): ")
                           .arg(v[QStringLiteral("files")], v[QStringLiteral("handoff")].section(QLatin1Char('/'), -1));
            QStringList mb;
            for (const QString& kb : v[QStringLiteral("pass_peaks_kb")].split(QLatin1Char(','), Qt::SkipEmptyParts))
                mb << QString::number(qRound(kb.toDouble() / 1024));
            if (mb.size() > 12)
                mb = mb.mid(0, 4) + QStringList{QStringLiteral("…")} + mb.mid(mb.size() - 4);
            row.note += mb.join(QLatin1Char(' '));
        }
        std::printf("  %-8s %5d  %8.1f s  %6.3f s  %6.3f s  %6.0f MB  %8.0f MB  %s\n", qPrintable(mode), pages,
                    row.seconds, row.seconds / pages, row.cpu / pages, row.peakMb, row.sizeMb, qPrintable(row.note));
        std::fflush(stdout);
        return row;
    };

    std::printf("\n  row      pages      time  per page  CPU/page   peak RSS     output\n");
    std::vector<Row> builder;
    for (int pages : counts("KELVO_BENCH_PDF_PAGES", "10,100,1000"))
        builder.push_back(run(QStringLiteral("builder"), pages, pages));
    std::vector<Row> chain, jpeg;
    for (int passes : counts("KELVO_BENCH_CHAIN_PASSES", "1,10,100"))
        chain.push_back(run(QStringLiteral("chain"), passes, passes * 10));
    for (int passes : counts("KELVO_BENCH_JPEG_PASSES", "1,100"))
        jpeg.push_back(run(QStringLiteral("jpeg"), passes, passes * 10));

    const auto judge = [](const char* name, const std::vector<Row>& r, double peakLimitMb) {
        if (r.size() < 2 || r.front().note == QLatin1String("FAILED") || r.back().note == QLatin1String("FAILED"))
            return;
        const Row& few = r.front();
        const Row& many = r.back();
        const double perPage = (many.seconds / many.pages) / (few.seconds / few.pages);
        const double cpuPerPage = (many.cpu / many.pages) / (few.cpu / few.pages);
        QString text = QStringLiteral("%1: %2 pages %3 s, peak %4 MB (%5 pages: %6 s, peak %7 MB); time per page %8 x, %9 "
                                      "(processor time per page %10 x)")
                           .arg(QLatin1String(name)).arg(many.pages).arg(many.seconds, 0, 'f', 1).arg(many.peakMb, 0, 'f', 0)
                           .arg(few.pages).arg(few.seconds, 0, 'f', 1).arg(few.peakMb, 0, 'f', 0).arg(perPage, 0, 'f', 2)
                           .arg(verdict(perPage, 1.2)).arg(cpuPerPage, 0, 'f', 2);
        if (peakLimitMb > 0)
            text += QStringLiteral("; peak %1").arg(verdict(many.peakMb, peakLimitMb));
        else
            text += QStringLiteral("; peak growth %1 MB").arg(many.peakMb - few.peakMb, 0, 'f', 0);
        result("pdf_memory", text);
    };
    judge("builder", builder, 250);
    judge("PDF chain", chain, 0);
    judge("JPEG run", jpeg, 0);
    return 0;
}
