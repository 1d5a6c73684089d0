// Opening a 600 dpi A4 colour scan in the viewer: time to the window's first frame against
// Qt's JPEG decoder alone, the memory the open window costs against the decoded raster, and
// how much of the view a scroll step repaints. Each measured run is a fresh child process
// (this program started again with --child), so no run profits from another's caches.
#include "BenchStubs.h"
#include "BenchSupport.h"

#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "imaging/ImageFile.h"
#include "viewer/MdiChild.h"

#include <QApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QMdiArea>
#include <QScrollBar>
#include <QWindow>

#include <map>

using namespace bench;

namespace {

constexpr int kWidth = 4960, kHeight = 7016, kDpi = 600, kQuality = 90;

// Stand-ins for the outside world: the viewer never scans, starts or notifies anything.
struct NoTwain final : kelvo::TwainLayer {
    bool isAvailable() override { return false; }
    int openSession() override { return -101; }
    int selectSource() override { return -101; }
    int startCapabilityNegotiation() override { return -101; }
    int setCapability(const kelvo::TwainCapability&, int) override { return -101; }
    int setBitsPerPixel(int) override { return -101; }
    int setResolution(const kelvo::TW_FIX32&, const kelvo::TW_FIX32&) override { return -101; }
    int setUnit(int) override { return -101; }
    int setImageFrame(const kelvo::TW_FRAME&) override { return -101; }
    int enableDuplex(int) override { return -101; }
    int endCapabilityNegotiation() override { return -101; }
    int acquire(const kelvo::PageCallback&, int, const kelvo::ProgressCallback&) override { return -101; }
    void requestCancel() override {}
    int endSession() override { return 1; }
};

void pump(double seconds)
{
    const double end = now() + seconds;
    while (now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// --- child side ------------------------------------------------------------------------

int childQt(const QString& file)
{
    kelvo::ensureImageReadersReady(); // the same allocation limit as ours, or Qt refuses
    std::printf("start_kb=%ld\n", peakRssKb());
    const double t0 = now();
    QImageReader reader(file);
    QImage img;
    const bool ok = reader.read(&img);
    const double t1 = now();
    std::printf("ok=%d\nseconds=%.6f\nwidth=%d\nheight=%d\nformat=%d\npeak_kb=%ld\n", ok && !img.isNull(),
                t1 - t0, img.width(), img.height(), int(img.format()), peakRssKb());
    return 0;
}

int childWindow(const QString& mode, const QString& file)
{
    kelvo::setMessageHook([](const QString& text, const QString& caption, int) {
        std::fprintf(stderr, "message: %s: %s\n", qPrintable(caption), qPrintable(text));
        return kelvo::IDOK;
    });
    NoTwain twain;
    NoLauncher launcher;
    NoNotifier notifier;
    kelvo::SessionState session;
    kelvo::TKelvoScan window(QStringList{QStringLiteral("KelvoBild")}, QLocale::c(),
                             kelvo::Services{&twain, &launcher, &notifier, QDir::tempPath()}, session);
    window.resize(1024, 768);
    window.show();
    const double exposeStart = now();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && now() - exposeStart < 10)
        pump(0.01);
    pump(0.3); // first paints of the frame, tool bar and menus are done
    if (mode == QLatin1String("idle")) {
        std::printf("ok=1\npeak_kb=%ld\n", peakRssKb());
        return 0;
    }

    const double t0 = now();
    window.OpenChildWindow(file);
    const auto windows = window.mdiArea()->subWindowList(QMdiArea::CreationOrder);
    auto* child = windows.isEmpty() ? nullptr : qobject_cast<kelvo::TMDIChild*>(windows.last());
    if (!child || !child->bitmap().allocated) {
        std::printf("ok=0\n");
        return 0;
    }
    kelvo::ImageView* view = child->view();
    while (view->paintedArea() == 0 && now() - t0 < 60)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    const double t1 = now();
    std::printf("ok=%d\nseconds=%.6f\npeak_kb=%ld\n", view->paintedArea() > 0, t1 - t0, peakRssKb());
    if (mode != QLatin1String("scroll"))
        return 0;

    // Scrolling: the repainted area per step, with what is already on screen moved.
    pump(0.3);
    const QSize vp = view->viewport()->size();
    QScrollBar* bar = view->verticalScrollBar();
    std::printf("viewport_w=%d\nviewport_h=%d\nsingle_step=%d\npage_step=%d\nrange=%d\n", vp.width(), vp.height(),
                bar->singleStep(), bar->pageStep(), bar->maximum());
    const auto steps = [&](QAbstractSlider::SliderAction action, int count, const char* name) {
        QStringList areas, times;
        for (int i = 0; i < count && bar->value() < bar->maximum(); ++i) {
            view->resetPaintedArea();
            const double s0 = now();
            bar->triggerAction(action);
            while (view->paintedArea() == 0 && now() - s0 < 2)
                QCoreApplication::processEvents(QEventLoop::AllEvents);
            const double s1 = now();
            pump(0.03); // late paints of the same step count too
            areas << QString::number(view->paintedArea());
            times << QString::number(s1 - s0, 'f', 6);
        }
        std::printf("%s_areas=%s\n%s_times=%s\n", name, qPrintable(areas.join(QLatin1Char(','))), name,
                    qPrintable(times.join(QLatin1Char(','))));
    };
    steps(QAbstractSlider::SliderSingleStepAdd, 20, "single");
    steps(QAbstractSlider::SliderPageStepAdd, 5, "page");
    return 0;
}

// --- parent side -----------------------------------------------------------------------

std::vector<double> numbers(const QString& csv)
{
    std::vector<double> v;
    for (const QString& s : csv.split(QLatin1Char(','), Qt::SkipEmptyParts))
        v.push_back(s.toDouble());
    return v;
}

struct Series {
    std::vector<double> seconds;
    std::vector<double> peakKb;
};

void printRow(const char* name, const std::vector<double>& v, double scale, const char* unit)
{
    if (v.empty()) {
        std::printf("  %-34s (no successful run)\n", name);
        return;
    }
    std::printf("  %-34s median %8.3f %s   min %8.3f   max %8.3f   (n=%zu)\n", name, median(v) * scale, unit,
                *std::min_element(v.begin(), v.end()) * scale, *std::max_element(v.begin(), v.end()) * scale,
                v.size());
}

int parent(const QString& self)
{
    const int runs = std::max(1, qEnvironmentVariableIntValue("KELVO_BENCH_RUNS") > 0
                                     ? qEnvironmentVariableIntValue("KELVO_BENCH_RUNS")
                                     : 5);
    ScratchDir scratch;
    if (!scratch.ok()) {
        std::printf("cannot create a scratch directory\n");
        return 1;
    }
    heading("bench_view_open: a 600 dpi A4 colour JPEG in the viewer");
    const QString file = scratch.file(QStringLiteral("seite600.jpg"));
    {
        const double g0 = now();
        const QImage page = makePage(kWidth, kHeight, kDpi, 600);
        QImageWriter writer(file, "jpeg");
        writer.setQuality(kQuality);
        if (page.isNull() || !writer.write(page)) {
            std::printf("cannot write the test image: %s\n", qPrintable(writer.errorString()));
            return 1;
        }
        std::printf("image: %d x %d, quality %d, %.1f MiB on %s (made in %.1f s)\n", kWidth, kHeight, kQuality,
                    mib(QFileInfo(file).size()), qPrintable(scratch.path()), now() - g0);
    }
    std::printf("runs: %d per side, each in a fresh process on the offscreen platform\n", runs);
    std::fflush(stdout);

    const QStringList env{QStringLiteral("QT_QPA_PLATFORM=offscreen")};
    Series qt, ours, idle;
    std::vector<double> qtStartKb;
    const auto runOne = [&](const char* mode, Series& into) {
        const ChildRun r = runChild({self, QStringLiteral("--child"), QLatin1String(mode), file}, env, {}, 120);
        const auto kv = childValues(r.output);
        if (!r.ok() || kv.count(QStringLiteral("ok")) == 0 || kv.at(QStringLiteral("ok")) != QLatin1String("1")) {
            std::printf("  %s run failed (exit %d%s): %s\n", mode, r.exitCode, r.timedOut ? ", timed out" : "",
                        r.output.left(400).constData());
            return;
        }
        if (kv.count(QStringLiteral("seconds")))
            into.seconds.push_back(kv.at(QStringLiteral("seconds")).toDouble());
        into.peakKb.push_back(kv.count(QStringLiteral("peak_kb")) ? kv.at(QStringLiteral("peak_kb")).toDouble() : 0);
        if (kv.count(QStringLiteral("start_kb")))
            qtStartKb.push_back(kv.at(QStringLiteral("start_kb")).toDouble());
    };
    for (int i = 0; i < runs; ++i) {
        // Alternate the order, so neither side always runs on a machine warmed by the other.
        if (i % 2 == 0) {
            runOne("qt", qt);
            runOne("ours", ours);
        } else {
            runOne("ours", ours);
            runOne("qt", qt);
        }
        runOne("idle", idle);
    }

    std::printf("\nTime to the picture:\n");
    printRow("Qt QImageReader::read", qt.seconds, 1000, "ms");
    printRow("ours: OpenChildWindow to 1st frame", ours.seconds, 1000, "ms");
    const double ratio = median(ours.seconds) / median(qt.seconds);
    std::printf("  ratio ours/Qt (medians)            %.3f   %s\n", ratio, qPrintable(verdict(ratio, 1.3)));
    result("view_open", QStringLiteral("first frame ours/Qt = %1 (%2)").arg(ratio, 0, 'f', 3).arg(verdict(ratio, 1.3)));

    const double raster = double(kWidth) * kHeight * 4;
    const double idleKb = median(idle.peakKb);
    const double oursKb = median(ours.peakKb);
    const double qtKb = median(qt.peakKb);
    const double above = (oursKb - idleKb) * 1024;
    const double memRatio = above / raster;
    // VmHWM read by each child itself: ru_maxrss of a spawned child also counts the parent's
    // memory before the exec, and this parent has held a whole page.
    std::printf("\nPeak memory (VmHWM of each child at its end, medians):\n");
    std::printf("  idle: main window, no image          %8.1f MiB\n", idleKb / 1024);
    std::printf("  ours: window with the image painted  %8.1f MiB\n", oursKb / 1024);
    std::printf("  above idle                           %8.1f MiB = %.3f x the RGB32 raster (%.1f MiB)   %s\n",
                mib(above), memRatio, mib(raster), qPrintable(verdict(memRatio, 1.25)));
    const double qtAbove = (qtKb - median(qtStartKb)) * 1024;
    std::printf("  for comparison, Qt's decoder alone   %8.1f MiB above its process's start = %.3f x the raster\n",
                mib(qtAbove), qtAbove / raster);
    result("view_open", QStringLiteral("peak above idle / RGB32 raster = %1 (%2)")
                            .arg(memRatio, 0, 'f', 3).arg(verdict(memRatio, 1.25)));

    // Scrolling, in one more child.
    const ChildRun s = runChild({self, QStringLiteral("--child"), QStringLiteral("scroll"), file}, env, {}, 120);
    auto kv = childValues(s.output);
    std::printf("\nScrolling (vertical scroll bar, one child process):\n");
    if (!s.ok() || !kv.count(QStringLiteral("viewport_w"))) {
        std::printf("  scroll run failed (exit %d): %s\n", s.exitCode, s.output.left(400).constData());
        return 0;
    }
    const double vw = kv.at(QStringLiteral("viewport_w")).toDouble();
    const double vh = kv.at(QStringLiteral("viewport_h")).toDouble();
    const double vpArea = vw * vh;
    std::printf("  viewport %.0f x %.0f = %.0f px; single step %s px, page step %s px\n", vw, vh, vpArea,
                qPrintable(kv.at(QStringLiteral("single_step"))), qPrintable(kv.at(QStringLiteral("page_step"))));
    for (const char* name : {"single", "page"}) {
        const auto areas = numbers(kv[QStringLiteral("%1_areas").arg(QLatin1String(name))]);
        const auto times = numbers(kv[QStringLiteral("%1_times").arg(QLatin1String(name))]);
        if (areas.empty()) {
            std::printf("  %s steps: none measured\n", name);
            continue;
        }
        const double med = median(areas);
        std::printf("  %-6s step: painted median %9.0f px = %.4f of the viewport (min %.0f, max %.0f, n=%zu); "
                    "step to paint median %.2f ms\n",
                    name, med, med / vpArea, *std::min_element(areas.begin(), areas.end()),
                    *std::max_element(areas.begin(), areas.end()), areas.size(), median(times) * 1000);
        result("view_open", QStringLiteral("%1 scroll step paints %2 of the viewport")
                                .arg(QLatin1String(name)).arg(med / vpArea, 0, 'f', 4));
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const bool child = argc >= 4 && std::strcmp(argv[1], "--child") == 0;
    QApplication app(argc, argv);
    if (!child)
        return parent(QCoreApplication::applicationFilePath());
    const QString mode = QString::fromLocal8Bit(argv[2]);
    const QString file = QString::fromLocal8Bit(argv[3]);
    if (mode == QLatin1String("qt"))
        return childQt(file);
    return childWindow(mode, file);
}
