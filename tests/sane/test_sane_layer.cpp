// The scanner layer on SANE's test backend (the repository's sane/ configuration): what the
// pages look like for each setting, the feeder, faults, the dialogs, and the hand-over
// between the reader thread and the caller. Every scan runs under a watchdog, as the test
// backend can hang.
#include "scanner/sane/SaneTwain.h"
#include "scanner/sane/SourceListDialog.h"
#include "scanner/Twain.h"

#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QDoubleSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

using namespace kelvo;

namespace {

// Before the first sane_init: the repository's test backend configuration.
const bool kConfigured = [] {
    if (qEnvironmentVariableIsEmpty("SANE_CONFIG_DIR"))
        qputenv("SANE_CONFIG_DIR", KELVO_SOURCE_DIR "/sane");
    return true;
}();

// Ends the test program when a scan hangs, so that the run fails instead of stalling.
class Watchdog {
public:
    explicit Watchdog(std::chrono::seconds limit = std::chrono::seconds(60))
        : thread_([this, limit] {
            std::unique_lock lock(mutex_);
            if (!done_cv_.wait_for(lock, limit, [this] { return done_; })) {
                std::fprintf(stderr, "watchdog: scan did not finish within %lld s\n",
                             static_cast<long long>(limit.count()));
                std::fflush(stderr);
                std::abort();
            }
        })
    {
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(mutex_);
            done_ = true;
        }
        done_cv_.notify_all();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_cv_;
    bool done_ = false;
    std::thread thread_;
};

struct Request {
    bool feeder = false;
    int bitsPerPixel = 24;
    double dpi = 50.0;
    double widthMm = 210.0;
    double heightMm = 290.0;
    int blankMode = 0;
    bool duplex = false;
    int flags = 0;
    std::vector<std::pair<QByteArray, QByteArray>> extras;
};

struct Scan {
    int result = 0;
    std::vector<Bitmap> pages;
    std::vector<int> progress;  // page numbers as each page started
    std::vector<AcquireProgress> reports;  // every progress report
    std::vector<std::string> events;  // "progress N" and "page N" in the order they came
};

// Negotiates like the scan session does and acquires; `onPage` sees each page after it
// was stored in the result.
Scan scan(SaneTwain& twain, const Request& r, const std::function<int(Scan&)>& onPage = {})
{
    Watchdog watchdog;
    Scan s;
    twain.openSession();
    twain.startCapabilityNegotiation();
    twain.setCapability({CAP_FEEDERENABLED, TWTY_BOOL, r.feeder ? 1u : 0u}, 1);
    twain.setCapability({ICAP_XFERMECH, TWTY_UINT16, 0u}, 1);
    if (r.blankMode != 0)
        twain.setCapability({ICAP_AUTODISCARDBLANKPAGES, TWTY_INT32, static_cast<uint32_t>(r.blankMode)}, 1);
    twain.setBitsPerPixel(r.bitsPerPixel);
    const TW_FIX32 res = floatToFix32(static_cast<float>(r.dpi));
    twain.setResolution(res, res);
    twain.setUnit(TWUN_PIXELS);
    TW_FRAME frame;
    frame.Right = floatToFix32(static_cast<float>(r.widthMm * r.dpi / 25.4));
    frame.Bottom = floatToFix32(static_cast<float>(r.heightMm * r.dpi / 25.4));
    twain.setImageFrame(frame);
    twain.enableDuplex(r.duplex ? 1 : 0);
    twain.endCapabilityNegotiation();
    twain.clearExtraOptions();
    for (const auto& [name, value] : r.extras)
        twain.setExtraOption(name, value);
    s.result = twain.acquire(
        [&s, &onPage](Bitmap& page) {
            s.pages.push_back(page);
            page.free();
            s.events.push_back("page " + std::to_string(s.pages.size()));
            return onPage ? onPage(s) : 1;
        },
        r.flags,
        [&s](const AcquireProgress& p) {
            s.reports.push_back(p);
            if (!s.progress.empty() && s.progress.back() == p.page)
                return;  // more of the same page
            s.progress.push_back(p.page);
            s.events.push_back("progress " + std::to_string(p.page));
        });
    return s;
}

// Pixels a SANE test device gives for a length in mm: it truncates.
int pixelsFor(double mm, double dpi)
{
    return static_cast<int>(dpi * mm / 25.4);
}

bool allPixels(const QImage& img, QRgb colour)
{
    const QImage rgb = img.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); y += 7) {
        for (int x = 0; x < rgb.width(); x += 7) {
            if ((rgb.pixel(x, y) & 0xffffff) != (colour & 0xffffff))
                return false;
        }
    }
    return true;
}

// Runs `act` on the first modal dialog that comes up, from inside its own event loop.
void onModalDialog(const std::function<void(QDialog*)>& act)
{
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    auto* since = new QElapsedTimer;
    since->start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, since, act] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog || since->elapsed() > 30000) {
            poll->stop();
            poll->deleteLater();
            delete since;
            if (dialog)
                act(dialog);
        }
    });
    poll->start();
}

class SaneLayer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(kConfigured);
        SaneTwain::setCurrentSource({});
        qunsetenv("SANE_DEFAULT_DEVICE");
        ASSERT_TRUE(twain.isAvailable());
        // The tests run on the offscreen platform and click the dialogs themselves.
        twain.setDialogsAllowed(true);
    }
    void TearDown() override
    {
        // The test device keeps option values even across closing and opening it: put back
        // what tests change, for the tests that follow in the same process.
        twain.endSession();
        Request reset;
        reset.dpi = 1.0;
        reset.extras = {{"hand-scanner", "no"},      {"three-pass", "no"},
                        {"read-delay", "no"},        {"read-limit", "no"},
                        {"read-return-value", "Default"}, {"test-picture", "Solid black"}};
        scan(twain, reset);
        twain.endSession();
        SaneTwain::setCurrentSource({});
        qunsetenv("SANE_DEFAULT_DEVICE");
    }
    SaneTwain twain;
};

} // namespace

TEST_F(SaneLayer, BitsPerPixelGiveTheImageDepthAndTheFrameGivesItsSize)
{
    struct Case {
        int bpp;
        const char* picture;
        QRgb colour;
        QImage::Format format;
    } cases[] = {
        {1, "Solid black", qRgb(0, 0, 0), QImage::Format_Mono},
        {1, "Solid white", qRgb(255, 255, 255), QImage::Format_Mono},
        {8, "Solid black", qRgb(0, 0, 0), QImage::Format_Grayscale8},
        {8, "Solid white", qRgb(255, 255, 255), QImage::Format_Grayscale8},
        {24, "Solid black", qRgb(0, 0, 0), QImage::Format_RGB888},
        {24, "Solid white", qRgb(255, 255, 255), QImage::Format_RGB888},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bpp << " bit, " << c.picture);
        Request r;
        r.bitsPerPixel = c.bpp;
        r.dpi = 150.0;
        r.extras = {{"test-picture", c.picture}};
        const Scan s = scan(twain, r);
        ASSERT_EQ(s.result, ACQUIRE_SUCCESS);
        ASSERT_EQ(s.pages.size(), 1u);
        const Bitmap& page = s.pages.front();
        EXPECT_EQ(page.bitsPerPixel, c.bpp);
        EXPECT_EQ(page.image.format(), c.format);
        EXPECT_NEAR(page.width, pixelsFor(210.0, 150.0), 1);   // 1240
        EXPECT_NEAR(page.height, pixelsFor(290.0, 150.0), 1);  // 1712
        EXPECT_EQ(page.xResolution, 150);
        EXPECT_EQ(page.yResolution, 150);
        EXPECT_TRUE(allPixels(page.image, c.colour));
    }
}

TEST_F(SaneLayer, FeederGivesTenPagesThenEndsWithSuccess)
{
    Request r;
    r.feeder = true;
    r.bitsPerPixel = 8;
    const Scan s = scan(twain, r);
    EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
    ASSERT_EQ(s.pages.size(), 10u);
    // Each page is announced before it comes; the empty feeder is found on attempt 11.
    for (int n = 1; n <= 10; ++n) {
        const auto progress = std::find(s.events.begin(), s.events.end(), "progress " + std::to_string(n));
        const auto page = std::find(s.events.begin(), s.events.end(), "page " + std::to_string(n));
        ASSERT_NE(progress, s.events.end()) << n;
        ASSERT_NE(page, s.events.end()) << n;
        EXPECT_LT(progress, page) << n;
        if (n > 1) {
            EXPECT_GT(progress, std::find(s.events.begin(), s.events.end(), "page " + std::to_string(n - 1))) << n;
        }
    }
    for (const Bitmap& page : s.pages)
        EXPECT_EQ(page.bitsPerPixel, 8);
}

TEST_F(SaneLayer, FlatbedGivesExactlyOnePage)
{
    Request r;
    r.feeder = false;
    const Scan s = scan(twain, r);
    EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(s.pages.size(), 1u);
    EXPECT_EQ(s.progress, std::vector<int>{1});
}

TEST_F(SaneLayer, DuplexWithoutDuplexSourceStillUsesTheFeeder)
{
    Request r;
    r.feeder = true;
    r.duplex = true;
    r.bitsPerPixel = 1;
    const Scan s = scan(twain, r);
    EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(s.pages.size(), 10u);
}

TEST_F(SaneLayer, ResolutionIsTheNearestAllowedValue)
{
    struct Case {
        double asked;
        int used;
    } cases[] = {{99.6, 100}, {150.4, 150}, {0.4, 1}, {2000.0, 1200}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.asked);
        Request r;
        r.bitsPerPixel = 8;
        r.dpi = c.asked;
        r.widthMm = 10.0;
        r.heightMm = 12.0;
        const Scan s = scan(twain, r);
        ASSERT_EQ(s.result, ACQUIRE_SUCCESS);
        ASSERT_EQ(s.pages.size(), 1u);
        EXPECT_EQ(s.pages[0].xResolution, c.used);
        // The area keeps its size in mm (clamped to the 1 mm geometry steps) at the used resolution.
        if (c.asked >= 1.0) {
            EXPECT_NEAR(s.pages[0].width, pixelsFor(10.0, c.used), 1);
            EXPECT_NEAR(s.pages[0].height, pixelsFor(12.0, c.used), 1);
        }
    }
}

TEST_F(SaneLayer, AreaBeyondTheDeviceIsClampedToItsRange)
{
    Request r;
    r.bitsPerPixel = 8;
    r.dpi = 20.0;
    r.widthMm = 400.0;  // the test device reaches 300 mm
    r.heightMm = 100.0;
    const Scan s = scan(twain, r);
    ASSERT_EQ(s.result, ACQUIRE_SUCCESS);
    ASSERT_EQ(s.pages.size(), 1u);
    EXPECT_NEAR(s.pages[0].width, pixelsFor(300.0, 20.0), 1);
    EXPECT_NEAR(s.pages[0].height, pixelsFor(100.0, 20.0), 1);
}

// Small pages here: when a page is cancelled while the test device's writer thread is
// blocked on a full pipe, that thread can deadlock the process (it is cancelled
// asynchronously while it formats an error message); a page that fits the pipe avoids it.
TEST_F(SaneLayer, FaultsOnTheFirstPageGiveTheirCodeAndNoPage)
{
    struct Case {
        const char* status;
        int expected;
    } cases[] = {
        {"SANE_STATUS_JAMMED", ACQUIRE_JAMMED},
        {"SANE_STATUS_IO_ERROR", ACQUIRE_IO_ERROR},
        {"SANE_STATUS_COVER_OPEN", ACQUIRE_COVER_OPEN},
        {"SANE_STATUS_NO_MEM", ACQUIRE_NO_MEMORY},
        {"SANE_STATUS_ACCESS_DENIED", ACQUIRE_ACCESS_DENIED},
        {"SANE_STATUS_CANCELLED", ACQUIRE_CANCELLED},
        {"SANE_STATUS_DEVICE_BUSY", ACQUIRE_DEVICE_BUSY},
        {"SANE_STATUS_INVAL", ACQUIRE_FAILED},
        {"SANE_STATUS_UNSUPPORTED", ACQUIRE_FAILED},
        {"SANE_STATUS_NO_DOCS", ACQUIRE_NO_DOCS},
        {"SANE_STATUS_EOF", ACQUIRE_BAD_DATA},  // a page without any data
    };
    bool first = true;
    for (const Case& c : cases) {
        for (bool feeder : {false, true}) {
            SCOPED_TRACE(testing::Message() << c.status << (feeder ? ", feeder" : ", flatbed"));
            if (!first)
                twain.endSession();  // the test device's feeder counts every start since it was opened
            first = false;
            Request r;
            r.feeder = feeder;
            r.bitsPerPixel = 8;
            r.widthMm = 40.0;
            r.heightMm = 30.0;
            r.extras = {{"read-return-value", c.status}};
            const Scan s = scan(twain, r);
            EXPECT_EQ(s.result, c.expected);
            EXPECT_TRUE(s.pages.empty());
        }
    }
    // The device is still usable after a fault, without opening it again.
    Request r;
    r.bitsPerPixel = 8;
    r.widthMm = 40.0;
    r.heightMm = 30.0;
    r.extras = {{"read-return-value", "Default"}};
    const Scan after = scan(twain, r);
    EXPECT_EQ(after.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(after.pages.size(), 1u);
}

TEST_F(SaneLayer, EmptyFeederBeforeTheFirstPageIsNoDocs)
{
    // The test device's feeder is empty at every eleventh start since it was opened.
    Request flat;
    flat.bitsPerPixel = 8;
    flat.widthMm = 5.0;
    flat.heightMm = 5.0;
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(scan(twain, flat).pages.size(), 1u) << i;
    Request feeder = flat;
    feeder.feeder = true;
    const Scan empty = scan(twain, feeder);
    EXPECT_EQ(empty.result, ACQUIRE_NO_DOCS);
    EXPECT_TRUE(empty.pages.empty());

    // Ending the session closes the device; a new one has a full feeder again.
    twain.endSession();
    EXPECT_TRUE(twain.openDeviceName().isEmpty());
    EXPECT_EQ(twain.endSession(), ACQUIRE_SUCCESS);  // again: nothing to do
    const Scan full = scan(twain, feeder);
    EXPECT_EQ(full.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(full.pages.size(), 10u);
}

TEST_F(SaneLayer, BlankPagesAreDroppedWhenAskedTo)
{
    struct Case {
        const char* picture;
        int blankMode;
        int bpp;
        size_t pages;
    } cases[] = {
        {"Solid white", TWBP_AUTO, 24, 0},
        {"Solid white", TWBP_AUTO, 1, 0},
        {"Solid black", TWBP_AUTO, 8, 10},
        {"Grid", TWBP_AUTO, 8, 10},
        {"Solid white", TWBP_DISABLE, 8, 10},
        {"Solid white", 0, 8, 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.picture << ", mode " << c.blankMode << ", " << c.bpp << " bit");
        Request r;
        r.feeder = true;
        r.bitsPerPixel = c.bpp;
        r.dpi = 30.0;
        r.blankMode = c.blankMode;
        r.extras = {{"test-picture", c.picture}};
        const Scan s = scan(twain, r);
        // Ten sheets went through; dropping them all is still a successful scan.
        EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
        EXPECT_EQ(s.pages.size(), c.pages);
        EXPECT_EQ(s.progress.size(), 11u);
        twain.endSession();  // a full feeder for the next case
    }
}

TEST_F(SaneLayer, ColourFromThreePassesAndGrayOfSixteenBits)
{
    Request three;
    three.bitsPerPixel = 24;
    three.extras = {{"three-pass", "yes"}, {"test-picture", "Solid white"}};
    const Scan a = scan(twain, three);
    ASSERT_EQ(a.result, ACQUIRE_SUCCESS);
    ASSERT_EQ(a.pages.size(), 1u);
    EXPECT_EQ(a.pages[0].bitsPerPixel, 24);
    EXPECT_NEAR(a.pages[0].width, pixelsFor(210.0, 50.0), 1);
    EXPECT_TRUE(allPixels(a.pages[0].image, qRgb(255, 255, 255)));

    // The colour pattern of three passes equals the one of a single pass.
    three.extras = {{"three-pass", "yes"}, {"test-picture", "Color pattern"}};
    const Scan passes = scan(twain, three);
    Request single = three;
    single.extras = {{"three-pass", "no"}, {"test-picture", "Color pattern"}};
    const Scan once = scan(twain, single);
    ASSERT_EQ(passes.pages.size(), 1u);
    ASSERT_EQ(once.pages.size(), 1u);
    EXPECT_EQ(passes.pages[0].image, once.pages[0].image);

    Request deep;
    deep.bitsPerPixel = 8;
    deep.extras = {{"depth", "16"}, {"test-picture", "Solid white"}};
    const Scan g = scan(twain, deep);
    ASSERT_EQ(g.pages.size(), 1u);
    EXPECT_EQ(g.pages[0].image.format(), QImage::Format_Grayscale8);
    EXPECT_TRUE(allPixels(g.pages[0].image, qRgb(255, 255, 255)));
}

TEST_F(SaneLayer, HandScannerHeightComesFromTheData)
{
    Request r;
    r.bitsPerPixel = 8;
    r.extras = {{"hand-scanner", "yes"}};
    const Scan s = scan(twain, r);
    ASSERT_EQ(s.result, ACQUIRE_SUCCESS);
    ASSERT_EQ(s.pages.size(), 1u);
    // The simulated hand scanner is 110 mm wide and stops after 170 mm.
    EXPECT_NEAR(s.pages[0].width, pixelsFor(110.0, 50.0), 1);
    EXPECT_NEAR(s.pages[0].height, pixelsFor(170.0, 50.0), 1);
}

TEST_F(SaneLayer, TinyReadChunksGiveTheSameImage)
{
    Request r;
    r.bitsPerPixel = 24;
    r.widthMm = 40.0;
    r.heightMm = 30.0;
    r.extras = {{"test-picture", "Color pattern"}, {"read-limit", "no"}};
    const Scan whole = scan(twain, r);
    r.extras = {{"test-picture", "Color pattern"}, {"read-limit", "yes"}, {"read-limit-size", "7"}};
    const Scan chunks = scan(twain, r);
    ASSERT_EQ(whole.pages.size(), 1u);
    ASSERT_EQ(chunks.pages.size(), 1u);
    EXPECT_EQ(whole.pages[0].image, chunks.pages[0].image);
    EXPECT_FALSE(allPixels(whole.pages[0].image, qRgb(0, 0, 0)));
}

TEST_F(SaneLayer, EventLoopRunsWhileWaitingAndASecondAcquireIsBusy)
{
    // The timer can only fire in an event loop, and the only one running is the one
    // acquire() waits in.
    int ticks = 0;
    int nested = 0;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (nested == 0)
            nested = twain.acquire([](Bitmap&) { return 1; }, 0, {});
    });
    timer.start();
    Request r;
    r.feeder = true;
    r.bitsPerPixel = 8;
    r.widthMm = 100.0;
    r.heightMm = 100.0;
    r.extras = {{"read-delay", "yes"}, {"read-delay-duration", "20000"}};
    const Scan s = scan(twain, r);
    timer.stop();
    EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(s.pages.size(), 10u);
    EXPECT_GT(ticks, 3);
    EXPECT_EQ(nested, ACQUIRE_DEVICE_BUSY);
}

TEST_F(SaneLayer, NoPageIsHandedOnWhileTheCallerIsSlow)
{
    Request r;
    r.feeder = true;
    r.bitsPerPixel = 24;
    int queuedLater = 0;
    const Scan s = scan(twain, r, [&](Scan& sc) {
        const int handled = static_cast<int>(sc.pages.size());
        EXPECT_LE(twain.pagesQueued(), handled + 1) << handled;
        if (handled == 1) {
            // Hold the first page: the reader reads the next one but keeps it back.
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            queuedLater = twain.pagesQueued();
        }
        return 1;
    });
    EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(s.pages.size(), 10u);
    // The page being stored counts as waiting; the next one is read meanwhile and held back,
    // so at most two page rasters are held at any time.
    EXPECT_EQ(queuedLater, 1);
    EXPECT_EQ(twain.maxPagesWaiting(), 1);
}

TEST_F(SaneLayer, PageBuffersAreReusedFromPageToPage)
{
    // Ten feeder pages, each released once stored: the reader reads into the memory of
    // pages already stored, holding no more than the page being stored and the next one.
    const struct {
        const char* what;
        int bpp;
        double widthMm;
    } cases[] = {
        {"gray rows taken over as the page", 8, 101.6},  // 400 pixels: rows 32-bit aligned
        {"gray rows copied", 8, 100.0},                 // 393 pixels
        {"one bit", 1, 100.0},
        {"colour", 24, 101.6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Watchdog watchdog;
        twain.openSession();
        twain.setCapability({CAP_FEEDERENABLED, TWTY_BOOL, 1u}, 1);
        twain.setBitsPerPixel(c.bpp);
        const TW_FIX32 res = floatToFix32(100.0f);
        twain.setResolution(res, res);
        twain.setUnit(TWUN_PIXELS);
        TW_FRAME frame;
        frame.Right = floatToFix32(static_cast<float>(c.widthMm * 100.0 / 25.4));
        frame.Bottom = floatToFix32(static_cast<float>(80.0 * 100.0 / 25.4));
        twain.setImageFrame(frame);
        twain.clearExtraOptions();
        twain.setExtraOption("test-picture", "Grid");
        int pages = 0;
        const int result = twain.acquire(
            [&pages](Bitmap& page) {
                EXPECT_FALSE(page.image.isNull());
                ++pages;
                page.free();
                return 1;
            },
            0, {});
        EXPECT_EQ(result, ACQUIRE_SUCCESS);
        EXPECT_EQ(pages, 10);
        EXPECT_LE(twain.pageBuffersAllocated(), 2);
        EXPECT_GE(twain.pageBuffersAllocated(), 1);
    }
}

TEST_F(SaneLayer, CallbackAnswerOtherThanOneStopsTheAcquisition)
{
    Request r;
    r.feeder = true;
    r.bitsPerPixel = 8;
    r.widthMm = 40.0;  // fits the test device's pipe (see the faults above)
    r.heightMm = 30.0;
    const Scan s = scan(twain, r, [](Scan& sc) { return sc.pages.size() == 3 ? 0 : 1; });
    EXPECT_EQ(s.result, 0);
    // The page read meanwhile has left the feeder: it is handed over too, and no other.
    EXPECT_GE(s.pages.size(), 3u);
    EXPECT_LE(s.pages.size(), 4u);
    EXPECT_EQ(static_cast<int>(s.pages.size()), twain.pagesQueued());
}

TEST_F(SaneLayer, OneBitMadeHereIsTheDevicesOwnOneBit)
{
    // A device without a 1-bit mode gets gray and the layer thresholds it: the page must be
    // the one the test device gives in its own 1-bit gray.
    // (The test device's 1-bit colour pattern is a pattern of its own, not a threshold.)
    for (const char* picture : {"Grid", "Solid black", "Solid white"}) {
        SCOPED_TRACE(picture);
        Request r;
        r.widthMm = 60.0;
        r.heightMm = 40.0;
        r.dpi = 75.0;
        r.extras = {{"test-picture", picture}};
        r.bitsPerPixel = 8;
        const Scan gray = scan(twain, r);
        r.bitsPerPixel = 1;
        const Scan own = scan(twain, r);
        ASSERT_EQ(gray.pages.size(), 1u);
        ASSERT_EQ(own.pages.size(), 1u);
        const QImage made = pageInDepth(gray.pages[0].image, 1);
        EXPECT_EQ(made.format(), QImage::Format_Mono);
        EXPECT_EQ(made.convertToFormat(QImage::Format_RGB32), own.pages[0].image.convertToFormat(QImage::Format_RGB32));
    }
}

TEST_F(SaneLayer, CancelRequestKeepsThePagesHandedOver)
{
    Request r;
    r.feeder = true;
    r.bitsPerPixel = 8;
    r.widthMm = 40.0;
    r.heightMm = 30.0;
    // Asked for while the third page is being stored, as a button in the status bar would,
    // once the fourth sheet has been read to its end: that page is still handed over.
    const Scan s = scan(twain, r, [this](Scan& sc) {
        if (sc.pages.size() == 3) {
            for (int i = 0; i < 500 && twain.pagesRead() < 4; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_EQ(twain.pagesRead(), 4);
            twain.requestCancel();
        }
        return 1;
    });
    EXPECT_EQ(s.result, ACQUIRE_CANCELLED);
    EXPECT_EQ(s.pages.size(), 4u);
    // The next acquisition is not affected by the old request.
    r.feeder = false;
    const Scan next = scan(twain, r);
    EXPECT_EQ(next.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(next.pages.size(), 1u);
}

TEST_F(SaneLayer, ProgressTellsThePageAndItsBytes)
{
    Request r;
    r.feeder = true;
    r.bitsPerPixel = 8;
    r.dpi = 100.0;
    r.widthMm = 100.0;  // 393 × 393 pixels of one byte: several of the test device's transfers
    r.heightMm = 100.0;
    // A slow device: a pause before each transfer.
    r.extras = {{"read-delay", "yes"}, {"read-delay-duration", "100000"}};
    const Scan s = scan(twain, r, [](Scan& sc) { return sc.pages.size() == 2 ? 0 : 1; });
    ASSERT_EQ(s.pages.size(), 2u);
    ASSERT_FALSE(s.reports.empty());
    const qint64 pageBytes = qint64(s.pages[0].width) * s.pages[0].height;
    int page = 0;
    qint64 read = 0;
    bool partway = false;
    for (const AcquireProgress& p : s.reports) {
        ASSERT_TRUE(p.page == page || p.page == page + 1) << p.page;
        if (p.page != page) {
            // A page starts with nothing read.
            EXPECT_EQ(p.bytesRead, 0);
            page = p.page;
            read = 0;
        }
        EXPECT_GE(p.bytesRead, read);
        read = p.bytesRead;
        if (p.bytesRead > 0) {
            EXPECT_EQ(p.bytesExpected, pageBytes);
            EXPECT_LE(p.bytesRead, pageBytes);
            partway = partway || p.bytesRead < pageBytes;
        }
    }
    EXPECT_TRUE(partway) << "no report while a page was being read";
}

TEST_F(SaneLayer, OptionsDialogComesFirstAndItsChangesApply)
{
    // Cancelled: no page.
    onModalDialog([](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Scanner-Einstellungen"));
        auto* mode = dialog->findChild<QComboBox*>(QStringLiteral("mode"));
        EXPECT_NE(mode, nullptr);
        if (mode) {
            EXPECT_GE(mode->findData(QStringLiteral("Gray")), 0);
            EXPECT_EQ(mode->currentData().toString(), QStringLiteral("Color"));  // the negotiated mode
        }
        EXPECT_NE(dialog->findChild<QDoubleSpinBox*>(QStringLiteral("resolution")), nullptr);
        EXPECT_NE(dialog->findChild<QCheckBox*>(QStringLiteral("three-pass")), nullptr);
        EXPECT_EQ(dialog->findChild<QWidget*>(QStringLiteral("print-options")), nullptr);  // a button
        auto* box = dialog->findChild<QDialogButtonBox*>();
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Abbrechen"));
        box->button(QDialogButtonBox::Cancel)->click();
    });
    Request r;
    r.bitsPerPixel = 24;
    r.flags = ACQUIRE_SHOW_UI;
    const Scan cancelled = scan(twain, r);
    EXPECT_EQ(cancelled.result, ACQUIRE_CANCELLED);
    EXPECT_TRUE(cancelled.pages.empty());
    EXPECT_TRUE(cancelled.progress.empty());

    // Accepted after choosing Gray: the page is gray although colour was negotiated.
    onModalDialog([](QDialog* dialog) {
        auto* mode = dialog->findChild<QComboBox*>(QStringLiteral("mode"));
        ASSERT_NE(mode, nullptr);
        const int gray = mode->findData(QStringLiteral("Gray"));
        mode->setCurrentIndex(gray);
        emit mode->activated(gray);
        QTimer::singleShot(50, dialog, [dialog] {
            auto* box = dialog->findChild<QDialogButtonBox*>();
            box->button(QDialogButtonBox::Ok)->click();
        });
    });
    const Scan accepted = scan(twain, r);
    EXPECT_EQ(accepted.result, ACQUIRE_SUCCESS);
    ASSERT_EQ(accepted.pages.size(), 1u);
    EXPECT_EQ(accepted.pages[0].bitsPerPixel, 8);
}

TEST_F(SaneLayer, SourceListChoosesTheDeviceForTheRestOfTheProcess)
{
    QStringList shown;
    onModalDialog([&shown](QDialog* dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Scanner auswählen"));
        auto* list = dialog->findChild<QTreeWidget*>(QStringLiteral("deviceList"));
        ASSERT_NE(list, nullptr);
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            shown << list->topLevelItem(i)->text(0) + '|' + list->topLevelItem(i)->text(2);
        const auto found = list->findItems(QStringLiteral("test:1"), Qt::MatchExactly, 2);
        ASSERT_EQ(found.size(), 1);
        list->setCurrentItem(found.front());
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    EXPECT_EQ(twain.selectSource(), ACQUIRE_SUCCESS);
    EXPECT_EQ(shown, (QStringList{"Noname|test:0", "Noname|test:1"}));
    EXPECT_EQ(SaneTwain::currentSource(), QByteArray("test:1"));

    Request r;
    EXPECT_EQ(scan(twain, r).result, ACQUIRE_SUCCESS);
    EXPECT_EQ(twain.openDeviceName(), QByteArray("test:1"));

    // A second layer object (a later session) uses the same device; Abbrechen keeps it.
    SaneTwain later;
    later.setDialogsAllowed(true);
    onModalDialog([](QDialog* dialog) { dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click(); });
    EXPECT_EQ(later.selectSource(), ACQUIRE_CANCELLED);
    twain.endSession();
    EXPECT_EQ(scan(later, r).result, ACQUIRE_SUCCESS);
    EXPECT_EQ(later.openDeviceName(), QByteArray("test:1"));
    later.endSession();
}

TEST_F(SaneLayer, DefaultDeviceFromTheEnvironmentElseTheFirstListed)
{
    Request r;
    EXPECT_EQ(scan(twain, r).result, ACQUIRE_SUCCESS);
    EXPECT_EQ(twain.openDeviceName(), QByteArray("test:0"));
    twain.endSession();

    qputenv("SANE_DEFAULT_DEVICE", "test:1");
    EXPECT_EQ(scan(twain, r).result, ACQUIRE_SUCCESS);
    EXPECT_EQ(twain.openDeviceName(), QByteArray("test:1"));
    twain.endSession();

    qputenv("SANE_DEFAULT_DEVICE", "test:7");
    const Scan missing = scan(twain, r);
    EXPECT_EQ(missing.result, ACQUIRE_OPEN_FAILED);
    EXPECT_TRUE(missing.pages.empty());
}

TEST_F(SaneLayer, WithoutADisplayNoDialogWaitsForAClick)
{
    // A layer left to its default on the offscreen platform: no display, no dialogs.
    twain.endSession();
    SaneTwain headless;
    ASSERT_FALSE(headless.dialogsAllowed());
    // A dialog that came up anyway is noted and closed, so the test cannot hang on it.
    bool shown = false;
    QTimer guard;
    guard.setInterval(20);
    QObject::connect(&guard, &QTimer::timeout, [&shown] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            shown = true;
            dialog->reject();
        }
    });
    guard.start();
    SaneTwain::setCurrentSource("test:1");
    EXPECT_EQ(headless.selectSource(), ACQUIRE_SUCCESS);
    EXPECT_EQ(SaneTwain::currentSource(), QByteArray("test:1"));  // the choice made before stays
    Request r;
    r.flags = ACQUIRE_SHOW_UI;
    r.bitsPerPixel = 8;
    const Scan s = scan(headless, r);
    EXPECT_EQ(s.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(s.pages.size(), 1u);
    EXPECT_EQ(s.pages[0].bitsPerPixel, 8);
    EXPECT_FALSE(shown);
    headless.endSession();
}

TEST(SaneDialogs, CarryTheProgramIcon)
{
    // Without an application icon, the icon of the window the dialog belongs to.
    ASSERT_TRUE(QGuiApplication::windowIcon().isNull());
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::red);
    QWidget owner;
    owner.setWindowIcon(QIcon(pixmap));
    SourceListDialog dialog({}, {}, &owner);
    EXPECT_EQ(dialog.windowIcon().cacheKey(), owner.windowIcon().cacheKey());
}

TEST_F(SaneLayer, DeviceHeldByAnotherSessionIsBusy)
{
    Request r;
    ASSERT_EQ(scan(twain, r).result, ACQUIRE_SUCCESS);  // keeps test:0 open
    SaneTwain other;
    const Scan s = scan(other, r);
    EXPECT_EQ(s.result, ACQUIRE_DEVICE_BUSY);
    EXPECT_TRUE(s.pages.empty());
}

TEST_F(SaneLayer, FaultInjectionThroughTheEnvironment)
{
    qputenv("KELVO_SANE_OPTIONS", " read-return-value = SANE_STATUS_JAMMED ;test-picture=Color pattern;;bad");
    SaneTwain injected;
    qunsetenv("KELVO_SANE_OPTIONS");
    const auto extras = injected.extraOptions();
    ASSERT_EQ(extras.size(), 2u);
    EXPECT_EQ(extras[0], std::make_pair(QByteArray("read-return-value"), QByteArray("SANE_STATUS_JAMMED")));
    EXPECT_EQ(extras[1], std::make_pair(QByteArray("test-picture"), QByteArray("Color pattern")));

    Watchdog watchdog;
    injected.openSession();
    injected.setCapability({CAP_FEEDERENABLED, TWTY_BOOL, 1u}, 1);
    int pages = 0;
    const int result = injected.acquire(
        [&pages](Bitmap&) {
            ++pages;
            return 1;
        },
        0, {});
    EXPECT_EQ(result, ACQUIRE_JAMMED);
    EXPECT_EQ(pages, 0);
    injected.endSession();
}

// Run in a child process (see below) with a configuration that has no backends.
TEST(SaneChild, DISABLED_NoDeviceAtAll)
{
    SaneTwain twain;
    ASSERT_TRUE(twain.isAvailable());
    twain.openSession();
    int pages = 0;
    const int result = twain.acquire(
        [&pages](Bitmap&) {
            ++pages;
            return 1;
        },
        0, {});
    EXPECT_EQ(result, ACQUIRE_NO_DEVICE);
    EXPECT_EQ(pages, 0);
}

TEST(SaneNoBackend, AcquireWithoutAnyScannerIsNoDevice)
{
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    QFile dll(config.filePath("dll.conf"));
    ASSERT_TRUE(dll.open(QIODevice::WriteOnly));
    dll.close();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SANE_CONFIG_DIR", config.path());
    env.remove("SANE_DEFAULT_DEVICE");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_also_run_disabled_tests", "--gtest_filter=SaneChild.DISABLED_NoDeviceAtAll"});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray out = child.readAllStandardOutput() + child.readAllStandardError();
    EXPECT_EQ(child.exitCode(), 0) << out.constData();
    EXPECT_TRUE(out.contains("[  PASSED  ] 1 test")) << out.constData();
}
