// Unattended scanning with the virtual scanner (SANE's test backend, feeder, 10 pages): the
// built program against scanimage on the same device in the same run, to JPEG files and to a
// PDF (scanimage + img2pdf), and the program's peak memory over a 600 dpi colour scan.
// Every run has a timeout: the test backend can hang rarely.
#include "BenchSupport.h"

#include <QGuiApplication>
#include <QImageReader>

#include <optional>

using namespace bench;

namespace {

constexpr int kPages = 10;

struct Setup {
    QString program;       // KelvoBild
    QString scanimage;
    QString img2pdf;
    QString qpdf;
    QString saneConfig;
    QString saneOptions;   // KELVO_SANE_OPTIONS for ours, the same options for scanimage
    QStringList env;       // environment additions for every scanner run
    QStringList unset;
};

QString handOffFile(const Setup& s)
{
    return QFileInfo(s.program).absolutePath() + QStringLiteral("/SendToKelvo.TXT");
}

void clear(const QString& dir)
{
    QDir d(dir);
    for (const QString& f : d.entryList(QDir::Files))
        d.remove(f);
}

int countFiles(const QString& dir, const QStringList& patterns)
{
    return int(QDir(dir).entryList(patterns, QDir::Files).size());
}

// One run of the program. The hand-off file is removed when this run created it, as the
// calling application does after reading it.
ChildRun runOurs(const Setup& s, const QStringList& args, double timeout, const QStringList& extraEnv = {},
                 bool measurePeak = false)
{
    const QString handOff = handOffFile(s);
    const bool handOffBefore = QFileInfo::exists(handOff);
    QStringList argv{s.program};
    argv += args;
    const ChildRun r = runChild(argv, s.env + extraEnv, s.unset, timeout, measurePeak);
    if (!handOffBefore)
        QFile::remove(handOff);
    return r;
}

QStringList scanimageArgs(const Setup& s, int dpi, const QString& dir)
{
    QStringList a{s.scanimage, QStringLiteral("-d"), QStringLiteral("test"), QStringLiteral("--source"),
                  QStringLiteral("Automatic Document Feeder"), QStringLiteral("--resolution"), QString::number(dpi),
                  QStringLiteral("-x"), QStringLiteral("210"), QStringLiteral("-y"), QStringLiteral("290"),
                  QStringLiteral("--mode"), QStringLiteral("Color")};
    // The same picture (and whatever else KELVO_SANE_OPTIONS sets) as our runs get.
    for (const QString& pair : s.saneOptions.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq > 0)
            a << QStringLiteral("--") + pair.left(eq).trimmed() << pair.mid(eq + 1).trimmed();
    }
    a << QStringLiteral("--batch=%1/p%d.jpg").arg(dir) << QStringLiteral("--format=jpeg");
    return a;
}

int pdfPages(const Setup& s, const QString& file)
{
    if (s.qpdf.isEmpty() || !QFileInfo::exists(file))
        return -1;
    const ChildRun r = runChild({s.qpdf, QStringLiteral("--show-npages"), file}, {}, {}, 60);
    bool ok = false;
    const int n = QString::fromUtf8(r.output).trimmed().toInt(&ok);
    return ok ? n : -1;
}

QString firstPdf(const QString& dir)
{
    const QStringList l = QDir(dir).entryList({QStringLiteral("*.PDF"), QStringLiteral("*.pdf")}, QDir::Files);
    return l.isEmpty() ? QString() : QDir(dir).filePath(l.first());
}

void failure(const char* what, const ChildRun& r)
{
    std::printf("  %s failed (exit %d%s, %.1f s): %s\n", what, r.exitCode, r.timedOut ? ", TIMED OUT" : "",
                r.seconds, r.output.right(600).constData());
}

struct Pair {
    std::vector<double> ours, peer;
    bool failed = false;
};

// One side's run of the file comparison; nullopt (and a printed reason) when it went wrong.
std::optional<double> filesOurs(const Setup& s, int dpi, const QString& dir, double timeout)
{
    clear(dir);
    const ChildRun r = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P%1").arg(dpi),
                                   dir + QStringLiteral("/Bild01.JPG")},
                               timeout);
    const int n = countFiles(dir, {QStringLiteral("Bild*.JPG")});
    if (!r.ok() || n != kPages) {
        failure("KelvoBild", r);
        std::printf("  (%d of %d pages stored)\n", n, kPages);
        return std::nullopt;
    }
    return r.seconds;
}

std::optional<double> filesPeer(const Setup& s, int dpi, const QString& dir, double timeout)
{
    clear(dir);
    const ChildRun r = runChild(scanimageArgs(s, dpi, dir), s.env, s.unset, timeout);
    const int n = countFiles(dir, {QStringLiteral("p*.jpg")});
    // scanimage ends a feeder batch with "out of documents" and a non-zero status.
    if (r.timedOut || n != kPages) {
        failure("scanimage", r);
        return std::nullopt;
    }
    return r.seconds;
}

std::optional<double> pdfOurs(const Setup& s, int dpi, const QString& dir, double timeout)
{
    clear(dir);
    const ChildRun r = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P%1").arg(dpi),
                                   QStringLiteral("/CPDF"), dir + QStringLiteral("/Bild01.PDF")},
                               timeout);
    const QString pdf = firstPdf(dir);
    const int pages = pdfPages(s, pdf);
    if (!r.ok() || pdf.isEmpty() || (pages >= 0 && pages != kPages)) {
        failure("KelvoBild /CPDF", r);
        std::printf("  (PDF %s, %d pages)\n", pdf.isEmpty() ? "missing" : qPrintable(pdf), pages);
        return std::nullopt;
    }
    return r.seconds;
}

std::optional<double> pdfPeer(const Setup& s, int dpi, const QString& dir, double timeout)
{
    const auto scan = filesPeer(s, dpi, dir, timeout);
    if (!scan)
        return std::nullopt;
    QStringList args{s.img2pdf, QStringLiteral("-o"), dir + QStringLiteral("/peer.pdf")};
    for (int i = 1; i <= kPages; ++i)
        args << dir + QStringLiteral("/p%1.jpg").arg(i);
    const ChildRun r = runChild(args, {}, {}, timeout);
    if (!r.ok()) {
        failure("img2pdf", r);
        return std::nullopt;
    }
    return *scan + r.seconds;
}

using Side = std::optional<double> (*)(const Setup&, int, const QString&, double);

Pair compare(const Setup& s, int dpi, const QString& dir, int runs, double timeout, Side ours, Side peer)
{
    Pair p;
    for (int i = 0; i < runs && !p.failed; ++i) {
        for (int k = 0; k < 2 && !p.failed; ++k) {
            const bool oursNow = (k == 0) == (i % 2 == 0);
            const auto t = oursNow ? ours(s, dpi, dir, timeout) : peer(s, dpi, dir, timeout);
            if (!t)
                p.failed = true;
            else
                (oursNow ? p.ours : p.peer).push_back(*t);
        }
    }
    clear(dir);
    return p;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    heading("bench_scan: unattended 10-page A4 colour scans of the virtual scanner");

    Setup s;
    s.program = qEnvironmentVariableIsEmpty("KELVOBILD") ? QStringLiteral(KELVO_BINARY_DIR "/KelvoBild")
                                                         : qEnvironmentVariable("KELVOBILD");
    s.scanimage = findProgram(QStringLiteral("scanimage"));
    s.img2pdf = findProgram(QStringLiteral("img2pdf"));
    s.qpdf = findProgram(QStringLiteral("qpdf"));
    s.saneConfig = qEnvironmentVariableIsEmpty("SANE_CONFIG_DIR") ? QStringLiteral(KELVO_SOURCE_DIR "/sane")
                                                                  : qEnvironmentVariable("SANE_CONFIG_DIR");
    s.saneOptions = qEnvironmentVariableIsSet("KELVO_SANE_OPTIONS") ? qEnvironmentVariable("KELVO_SANE_OPTIONS")
                                                                    : QStringLiteral("test-picture=Color pattern");
    const QFileInfo program(s.program);
    if (!program.isFile() || !program.isExecutable()) {
        std::printf("KelvoBild is not built (%s): skipped\n", qPrintable(s.program));
        result("scan", QStringLiteral("skipped (KelvoBild not built)"));
        return 0;
    }
    if (s.scanimage.isEmpty()) {
        std::printf("scanimage is not installed: no peer, skipped\n");
        result("scan", QStringLiteral("skipped (no scanimage)"));
        return 0;
    }
    ScratchDir scratch;
    if (!scratch.ok()) {
        std::printf("cannot create a scratch directory\n");
        return 1;
    }
    const QString dir = scratch.path();
    // No display: the program runs offscreen and answers its own message boxes. TMP takes
    // the PDF page bitmaps onto the same tmpfs as the output.
    s.env = QStringList{QStringLiteral("SANE_CONFIG_DIR=") + s.saneConfig,
                        QStringLiteral("KELVO_SANE_OPTIONS=") + s.saneOptions,
                        QStringLiteral("SANE_DEFAULT_DEVICE=test:0"), QStringLiteral("TMP=") + dir,
                        QStringLiteral("LC_ALL=C.UTF-8")};
    s.unset = QStringList{QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"),
                          QStringLiteral("QT_QPA_PLATFORM")};
    const int runs = qEnvironmentVariableIntValue("KELVO_BENCH_RUNS") > 0
                         ? std::min(qEnvironmentVariableIntValue("KELVO_BENCH_RUNS"), 9)
                         : 5;
    const double timeout = 180;
    std::printf("program %s\nSANE_CONFIG_DIR=%s, options \"%s\", device test:0, feeder, frame 210 x 290 mm\n"
                "output on %s; %d alternating runs per side (median), timeout %.0f s per run\n",
                qPrintable(s.program), qPrintable(s.saneConfig), qPrintable(s.saneOptions), qPrintable(dir), runs,
                timeout);
    std::printf("(ours stores JPEG at quality 95; scanimage --format=jpeg uses its own fixed quality)\n");
    std::fflush(stdout);

    // A first scan tells whether scanning works at all.
    if (!filesOurs(s, 150, dir, timeout)) {
        std::printf("scanning with KelvoBild failed: skipped\n");
        result("scan", QStringLiteral("skipped (KelvoBild scan failed)"));
        return 0;
    }

    std::printf("\n  dpi  output   KelvoBild s   peer s     ratio ours/peer   peer\n");
    for (const int dpi : {150, 300}) {
        for (const bool toPdf : {false, true}) {
            if (toPdf && s.img2pdf.isEmpty()) {
                std::printf("  %3d  PDF      (img2pdf is not installed: skipped)\n", dpi);
                continue;
            }
            const Pair p = toPdf ? compare(s, dpi, dir, runs, timeout, pdfOurs, pdfPeer)
                                 : compare(s, dpi, dir, runs, timeout, filesOurs, filesPeer);
            const char* peerName = toPdf ? "scanimage --batch + img2pdf" : "scanimage --batch --format=jpeg";
            if (p.failed || p.ours.empty() || p.peer.empty()) {
                std::printf("  %3d  %-6s   failed, see above\n", dpi, toPdf ? "PDF" : "JPEG");
                result("scan", QStringLiteral("%1 dpi %2: failed").arg(dpi).arg(toPdf ? "PDF" : "JPEG"));
                continue;
            }
            const double ratio = median(p.ours) / median(p.peer);
            std::printf("  %3d  %-6s   %10.3f   %8.3f   %10.3f        %s\n", dpi, toPdf ? "PDF" : "JPEG",
                        median(p.ours), median(p.peer), ratio, peerName);
            std::fflush(stdout);
            result("scan", QStringLiteral("%1 dpi 10 pages to %2: ours/peer = %3 (%4 s vs %5 s)")
                               .arg(dpi).arg(toPdf ? "PDF" : "JPEG").arg(ratio, 0, 'f', 2)
                               .arg(median(p.ours), 0, 'f', 2).arg(median(p.peer), 0, 'f', 2));
        }
    }

    // Peak memory over a 10-page 600 dpi colour scan against the program's idle size. Idle:
    // the same unattended start whose scanner cannot be opened, so nothing is scanned.
    std::printf("\nPeak memory, 10 pages at 600 dpi colour to JPEG (peak resident set, /usr/bin/time):\n");
    if (timeProgram().isEmpty()) {
        std::printf("  /usr/bin/time is not installed: skipped\n");
        result("scan", QStringLiteral("600 dpi memory: skipped (no /usr/bin/time)"));
        return 0;
    }
    clear(dir);
    const ChildRun idle = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P600"),
                                      dir + QStringLiteral("/Bild01.JPG")},
                                  60, {QStringLiteral("SANE_DEFAULT_DEVICE=test:no-such-device")}, true);
    if (idle.timedOut || countFiles(dir, {QStringLiteral("*")}) != 0) {
        failure("idle run", idle);
        std::printf("  (files: %s)\n", qPrintable(QDir(dir).entryList(QDir::Files).join(QLatin1Char(' '))));
        result("scan", QStringLiteral("600 dpi memory: idle run failed"));
        return 0;
    }
    const ChildRun big = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P600"),
                                     dir + QStringLiteral("/Bild01.JPG")},
                                 600, {}, true);
    const int stored = countFiles(dir, {QStringLiteral("Bild*.JPG")});
    const QSize page = QImageReader(dir + QStringLiteral("/Bild01.JPG")).size();
    if (!big.ok() || stored != kPages || !page.isValid()) {
        failure("600 dpi scan", big);
        std::printf("  (%d of %d pages stored)\n", stored, kPages);
        result("scan", QStringLiteral("600 dpi memory: scan failed"));
        return 0;
    }
    clear(dir);
    const ChildRun peer600 = runChild(scanimageArgs(s, 600, dir), s.env, s.unset, 600, true);
    clear(dir);
    const double raster = double(page.width()) * page.height() * 3; // RGB888, as the scanner delivers
    const double above = double(big.maxRssKb - idle.maxRssKb) * 1024;
    const double rasters = above / raster;
    std::printf("  idle (scanner not opened)        %8.1f MiB\n", idle.maxRssKb / 1024.0);
    std::printf("  10-page scan, peak               %8.1f MiB  (%.1f s; scanimage %.1f s, peak %.1f MiB)\n",
                big.maxRssKb / 1024.0, big.seconds, peer600.seconds, peer600.maxRssKb / 1024.0);
    std::printf("  one page raster %d x %d RGB888  %8.1f MiB\n", page.width(), page.height(), mib(raster));
    std::printf("  above idle                       %8.1f MiB = %.2f page rasters   %s\n", mib(above), rasters,
                qPrintable(verdict(rasters, 3)));
    result("scan", QStringLiteral("600 dpi 10-page peak above idle = %1 page rasters (%2)")
                       .arg(rasters, 0, 'f', 2).arg(verdict(rasters, 3)));
    return 0;
}
