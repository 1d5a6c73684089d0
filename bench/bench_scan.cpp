// Unattended scanning with the virtual scanner (SANE's test backend, feeder, 10 pages): the
// built program against scanimage on the same device in the same run, to JPEG files and to a
// PDF (scanimage + img2pdf) at 150 and 300 dpi, and the program's peak memory over a 600 dpi
// colour scan. The four comparisons take turns run by run, each pair alternating which side
// goes first; ratios are taken per pair. Optionally a second build of the program (a baseline)
// takes part in every round as a third side. Every run has a timeout: the test backend can
// hang rarely.
#include "BenchSupport.h"

#include "imaging/JpegWriter.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>

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
    QString baseline;      // KELVOBILD_BASELINE: another build measured beside ours, or empty
    QString openerDir;     // holds a stand-in xdg-open that only records what it was asked to open
    QString openerLog;
};

// A stand-in for the desktop's opener, first in PATH of our runs: the PDF run ends by opening
// the PDF, and a real viewer (or xdg-open's search for one) would still be running while the
// next run is measured. The stand-in records the file and ends at once.
bool makeOpener(Setup& s, const QString& dir)
{
    s.openerDir = dir;
    s.openerLog = dir + QStringLiteral("/opened.txt");
    QFile f(dir + QStringLiteral("/xdg-open"));
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(QStringLiteral("#!/bin/sh\necho \"$1\" >> '%1'\n").arg(s.openerLog).toUtf8());
    f.close();
    return f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Waits until the stand-in opener has been asked to open `file` (it is started detached after
// the program wrote the PDF, so it may come a moment after the program ended). A program that
// opens nothing without a display never asks: false after two seconds.
bool waitForOpener(const Setup& s, const QString& file)
{
    for (const double t0 = now(); now() - t0 < 2;) {
        QFile log(s.openerLog);
        if (log.open(QIODevice::ReadOnly) && log.readAll().contains(QFile::encodeName(file))) {
            log.close();
            log.remove();
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
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
                 bool measurePeak = false, const QString& program = {})
{
    const QString exe = program.isEmpty() ? s.program : program;
    const QString handOff = QFileInfo(exe).absolutePath() + QStringLiteral("/SendToKelvo.TXT");
    const bool handOffBefore = QFileInfo::exists(handOff);
    QStringList argv{exe};
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

// One side's run of the file comparison; nullopt (and a printed reason) when it went wrong.
std::optional<double> filesOurs(const Setup& s, int dpi, const QString& dir, double timeout,
                                const QString& program = {})
{
    clear(dir);
    const ChildRun r = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P%1").arg(dpi),
                                   dir + QStringLiteral("/Bild01.JPG")},
                               timeout, {}, false, program);
    const int n = countFiles(dir, {QStringLiteral("Bild*.JPG")});
    if (!r.ok() || n != kPages) {
        failure(qPrintable(program.isEmpty() ? s.program : program), r);
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

std::optional<double> pdfOurs(const Setup& s, int dpi, const QString& dir, double timeout,
                              const QString& program = {})
{
    clear(dir);
    const QString path = qEnvironmentVariable("PATH");
    const ChildRun r = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P%1").arg(dpi),
                                   QStringLiteral("/CPDF"), dir + QStringLiteral("/Bild01.PDF")},
                               timeout, {QStringLiteral("PATH=") + s.openerDir + QLatin1Char(':') + path}, false,
                               program);
    const QString pdf = firstPdf(dir);
    // The opener has run (and ended) before anything else is measured.
    if (r.ok() && !pdf.isEmpty() && !waitForOpener(s, pdf)) {
        static QStringList told; // say it once per program
        const QString exe = program.isEmpty() ? s.program : program;
        if (!told.contains(exe)) {
            told << exe;
            std::printf("  (%s opened nothing after writing the PDF)\n", qPrintable(exe));
        }
    }
    const int pages = pdfPages(s, pdf);
    if (!r.ok() || pdf.isEmpty() || (pages >= 0 && pages != kPages)) {
        failure(qPrintable((program.isEmpty() ? s.program : program) + QStringLiteral(" /CPDF")), r);
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

struct Row {
    int dpi;
    bool pdf;
    double goal; // ours/peer
    std::vector<double> ours, baseline, peer;
    int failedRounds = 0;
    bool failed = false;
    const char* output() const { return pdf ? "PDF" : "JPEG"; }
};

std::optional<double> runSide(const Setup& s, const Row& row, int side, const QString& dir, double timeout)
{
    if (side == 2)
        return row.pdf ? pdfPeer(s, row.dpi, dir, timeout) : filesPeer(s, row.dpi, dir, timeout);
    const QString program = side == 0 ? s.program : s.baseline;
    return row.pdf ? pdfOurs(s, row.dpi, dir, timeout, program) : filesOurs(s, row.dpi, dir, timeout, program);
}

// `runs` rounds; each round runs every row once per side, the sides of a row in an order
// that turns from round to round, so that neither side always follows the other. A round in
// which a side failed (a rare hang of the test backend ends in the timeout) is left out of
// that row; after three such rounds the row is given up.
void measure(const Setup& s, std::vector<Row>& rows, const QString& dir, int runs, double timeout)
{
    std::vector<int> sides{0, 2};
    if (!s.baseline.isEmpty())
        sides = {0, 1, 2};
    for (int round = 0; round < runs; ++round) {
        for (Row& row : rows) {
            if (row.failed)
                continue;
            double times[3] = {0, 0, 0};
            bool ok = true;
            for (size_t k = 0; k < sides.size() && ok; ++k) {
                const int side = sides[(k + size_t(round)) % sides.size()];
                const auto t = runSide(s, row, side, dir, timeout);
                ok = t.has_value();
                times[side] = t.value_or(0);
            }
            if (!ok) {
                std::printf("  %d %s: round %d left out\n", row.dpi, row.output(), round + 1);
                row.failed = ++row.failedRounds >= 3;
                continue;
            }
            row.ours.push_back(times[0]);
            if (sides.size() == 3)
                row.baseline.push_back(times[1]);
            row.peer.push_back(times[2]);
        }
        std::printf("  round %d of %d done\n", round + 1, runs);
        std::fflush(stdout);
    }
    clear(dir);
}

std::vector<double> ratios(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> r;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        r.push_back(a[i] / b[i]);
    return r;
}

// "median [min-max]"
QString spread(const std::vector<double>& v, int decimals = 3)
{
    if (v.empty())
        return QStringLiteral("n/a");
    const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
    return QStringLiteral("%1 [%2-%3]").arg(median(v), 0, 'f', decimals).arg(*lo, 0, 'f', decimals).arg(*hi, 0, 'f', decimals);
}

QByteArray qtJpeg(const QImage& img, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(img);
    return bytes;
}

// What no scan can beat: the program's start-up (a run whose scanner cannot be opened) against
// scanimage's, and JPEG coding alone of the virtual scanner's page, 10 times: ours (quality 95,
// bands on every core) against Qt's writer (one thread) at 95 and at scanimage's 75.
void floors(const Setup& s, const QString& dir, int runs)
{
    std::printf("\nFloors (medians of %d):\n", runs);
    std::vector<double> ours, peer;
    for (int i = 0; i < runs; ++i) {
        clear(dir);
        const ChildRun a = runOurs(s, {QStringLiteral("-S"), QStringLiteral("/X"), QStringLiteral("/P150"),
                                       dir + QStringLiteral("/Bild01.JPG")},
                                   60, {QStringLiteral("SANE_DEFAULT_DEVICE=test:no-such-device")});
        QStringList args = scanimageArgs(s, 150, dir);
        args[2] = QStringLiteral("test:no-such-device");
        const ChildRun b = runChild(args, s.env, s.unset, 60);
        ours.push_back(a.seconds);
        peer.push_back(b.seconds);
    }
    std::printf("  start-up to a scanner that cannot be opened, and exit: ours %s s, scanimage %s s\n",
                qPrintable(spread(ours)), qPrintable(spread(peer)));
    result("scan", QStringLiteral("floor: start-up and exit without a scanner %1 s (scanimage %2 s)")
                       .arg(median(ours), 0, 'f', 3).arg(median(peer), 0, 'f', 3));

    for (const int dpi : {300, 150}) {
        clear(dir);
        QStringList args = scanimageArgs(s, dpi, dir);
        args.removeLast();
        args.removeLast();
        args << QStringLiteral("--format=pnm") << QStringLiteral("-o") << dir + QStringLiteral("/page.pnm")
             << QStringLiteral("--source") << QStringLiteral("Flatbed");
        const ChildRun r = runChild(args, s.env, s.unset, 120);
        const QImage page = QImage(dir + QStringLiteral("/page.pnm")).convertToFormat(QImage::Format_RGB888);
        if (page.isNull()) {
            failure("scanimage --format=pnm", r);
            continue;
        }
        std::vector<double> banded, qt95, qt75;
        qint64 size95 = 0, size75 = 0;
        for (int i = 0; i < runs; ++i) {
            double t0 = now();
            for (int k = 0; k < kPages; ++k)
                size95 = kelvo::encodeJpeg(page, 95).size();
            banded.push_back(now() - t0);
            t0 = now();
            for (int k = 0; k < kPages; ++k)
                qtJpeg(page, 95);
            qt95.push_back(now() - t0);
            t0 = now();
            for (int k = 0; k < kPages; ++k)
                size75 = qtJpeg(page, 75).size();
            qt75.push_back(now() - t0);
        }
        std::printf("  %d dpi page %d x %d, JPEG of it 10 times: ours q95 (%d threads) %s s, one thread q95 %s s, "
                    "q75 %s s (%.1f / %.1f MiB per page at q95 / q75)\n",
                    dpi, page.width(), page.height(), kelvo::jpegEncoderThreads(), qPrintable(spread(banded)),
                    qPrintable(spread(qt95)), qPrintable(spread(qt75)), mib(size95), mib(size75));
        result("scan", QStringLiteral("floor: %1 dpi JPEG coding of 10 pages alone: ours %2 s, one thread q95 %3 s, q75 %4 s")
                           .arg(dpi).arg(median(banded), 0, 'f', 3).arg(median(qt95), 0, 'f', 3)
                           .arg(median(qt75), 0, 'f', 3));
    }
    clear(dir);
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
                         ? std::min(qEnvironmentVariableIntValue("KELVO_BENCH_RUNS"), 25)
                         : 7;
    s.baseline = qEnvironmentVariable("KELVOBILD_BASELINE");
    if (!s.baseline.isEmpty() && !QFileInfo(s.baseline).isExecutable()) {
        std::printf("KELVOBILD_BASELINE %s is not a program: left out\n", qPrintable(s.baseline));
        s.baseline.clear();
    }
    ScratchDir openerDir;
    if (!openerDir.ok() || !makeOpener(s, openerDir.path())) {
        std::printf("cannot set up the stand-in opener\n");
        return 1;
    }
    const double timeout = 60; // a run takes about a second
    std::printf("program %s\nSANE_CONFIG_DIR=%s, options \"%s\", device test:0, feeder, frame 210 x 290 mm\n"
                "output on %s; %d rounds, each running every row once per side in turns (medians,\n"
                "[min-max] spread, ratios per pair); timeout %.0f s per run\n"
                "our PDF runs open the PDF through a stand-in xdg-open that ends at once, awaited before the next run\n",
                qPrintable(s.program), qPrintable(s.saneConfig), qPrintable(s.saneOptions), qPrintable(dir), runs,
                timeout);
    if (!s.baseline.isEmpty())
        std::printf("baseline build measured beside ours in every round: %s\n", qPrintable(s.baseline));
    std::printf("(ours stores JPEG at quality 95; scanimage --format=jpeg uses its own fixed quality)\n");
    std::fflush(stdout);

    // A first scan tells whether scanning works at all.
    if (!filesOurs(s, 150, dir, timeout)) {
        std::printf("scanning with KelvoBild failed: skipped\n");
        result("scan", QStringLiteral("skipped (KelvoBild scan failed)"));
        return 0;
    }

    std::vector<Row> rows{{300, false, 0.8, {}, {}, {}}, {150, false, 1.0, {}, {}, {}},
                          {300, true, 0.8, {}, {}, {}}, {150, true, 0.8, {}, {}, {}}};
    if (s.img2pdf.isEmpty()) {
        std::printf("img2pdf is not installed: the PDF rows are skipped\n");
        rows.resize(2);
    }
    measure(s, rows, dir, runs, timeout);

    std::printf("\n  seconds per 10 pages: median [min-max]; ratio: median [min-max] of the per-round ratios\n");
    std::printf("  %-10s %-22s %-22s %-22s %-22s %s\n", "row", "KelvoBild", "peer", "ours/peer", "goal",
                s.baseline.isEmpty() ? "" : "baseline          baseline/peer");
    for (const Row& row : rows) {
        const QString name = QStringLiteral("%1 %2").arg(row.dpi).arg(row.output());
        if (row.failed || row.ours.empty() || row.peer.empty()) {
            std::printf("  %-10s failed, see above\n", qPrintable(name));
            result("scan", QStringLiteral("%1 dpi %2: failed").arg(row.dpi).arg(row.output()));
            continue;
        }
        const std::vector<double> r = ratios(row.ours, row.peer);
        std::printf("  %-10s %-22s %-22s %-22s %-22s", qPrintable(name), qPrintable(spread(row.ours)),
                    qPrintable(spread(row.peer)), qPrintable(spread(r, 2)), qPrintable(verdict(median(r), row.goal)));
        if (!row.baseline.empty())
            std::printf(" %-22s %s", qPrintable(spread(row.baseline)), qPrintable(spread(ratios(row.baseline, row.peer), 2)));
        std::printf("\n");
        result("scan", QStringLiteral("%1 dpi 10 pages to %2: ours/peer = %3 (%4 s vs %5 s, %6 rounds)%7; %8")
                           .arg(row.dpi).arg(row.output()).arg(spread(r, 2)).arg(median(row.ours), 0, 'f', 3)
                           .arg(median(row.peer), 0, 'f', 3).arg(r.size())
                           .arg(row.baseline.empty() ? QString()
                                                     : QStringLiteral(", baseline/peer = %1").arg(spread(ratios(row.baseline, row.peer), 2)))
                           .arg(verdict(median(r), row.goal)));
    }
    std::printf("  peers: scanimage --batch --format=jpeg (its own fixed quality; ours 95); for PDF the same plus img2pdf\n");
    std::fflush(stdout);

    floors(s, dir, runs);

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
    // The pages are read by the scanner worker into buffers it shares with the program: they
    // count in the program's resident set once it reads them. /usr/bin/time gives the larger
    // of the two processes, so the worker's own few MiB (libsane, the backend) are not added.
    std::printf("  (ours: the program; the scanner worker shares the page buffers with it)\n");
    std::printf("  above idle                       %8.1f MiB = %.2f page rasters   %s\n", mib(above), rasters,
                qPrintable(verdict(rasters, 3)));
    result("scan", QStringLiteral("600 dpi 10-page peak above idle = %1 page rasters (%2)")
                       .arg(rasters, 0, 'f', 2).arg(verdict(rasters, 3)));
    return 0;
}
