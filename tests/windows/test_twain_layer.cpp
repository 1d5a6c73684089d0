// The TWAIN layer: DIBs to pages, return codes to acquisition results, the capability
// records, and whole sessions against the test data source KelvoTest.ds through the real
// source manager (run-wine.sh installs it; KELVO_TWAIN_SOURCE names it).
#include "scanner/twain/TwainDsm.h"
#include "scanner/twain/TwainWire.h"

#include "TestPattern.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <thread>
#include <cstring>
#include <string>
#include <vector>

using namespace kelvo;
using namespace kelvo::twainwire;

namespace {

void put16(std::vector<uint8_t>& v, size_t at, uint16_t x)
{
    v[at] = uint8_t(x);
    v[at + 1] = uint8_t(x >> 8);
}

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = uint8_t(x >> (8 * i));
}

// A packed DIB whose rows are given top row first; stored bottom-up unless topDown.
// Rows are the bytes of each row without padding (1 bit: packed, most significant first).
std::vector<uint8_t> dib(int width, const std::vector<std::vector<uint8_t>>& rows, int bits, bool topDown,
                         const std::vector<uint32_t>& palette, int32_t ppm)
{
    const int height = int(rows.size());
    const size_t stride = ((size_t(width) * bits + 31) / 32) * 4;
    std::vector<uint8_t> v(40 + palette.size() * 4 + stride * height, 0);
    put32(v, 0, 40);
    put32(v, 4, uint32_t(width));
    put32(v, 8, uint32_t(topDown ? -height : height));
    put16(v, 12, 1);
    put16(v, 14, uint16_t(bits));
    put32(v, 24, uint32_t(ppm));
    put32(v, 28, uint32_t(ppm));
    put32(v, 32, uint32_t(palette.size()));
    for (size_t i = 0; i < palette.size(); ++i)
        put32(v, 40 + 4 * i, palette[i]); // 0x00RRGGBB is B, G, R, 0 in memory
    const size_t pixels = 40 + palette.size() * 4;
    for (int y = 0; y < height; ++y) {
        const size_t row = pixels + stride * size_t(topDown ? y : height - 1 - y);
        std::memcpy(&v[row], rows[y].data(), rows[y].size());
    }
    return v;
}

std::vector<uint32_t> grayRamp()
{
    std::vector<uint32_t> p;
    for (uint32_t i = 0; i < 256; ++i)
        p.push_back(i << 16 | i << 8 | i);
    return p;
}

} // namespace

// --- DIB to page -------------------------------------------------------------------------

TEST(TwainDib, PixelsOrientationColoursAndResolution)
{
    // Rows as the DIB holds them: colour pixels are B, G, R.
    const std::vector<std::vector<uint8_t>> colour = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        double reportedDpi; // by the image information
        bool swapRedBlue;
        QImage::Format format;
        std::vector<QRgb> expected; // row by row, top row first
        int dpi; // the page's stamp; 200 asked for
    } cases[] = {
        {"24 bit bottom-up", dib(2, colour, 24, false, {}, 5906), 0, false, QImage::Format_RGB888,
         {qRgb(3, 2, 1), qRgb(6, 5, 4), qRgb(9, 8, 7), qRgb(12, 11, 10)}, 150},
        {"24 bit top-down", dib(2, colour, 24, true, {}, 11811), 0, false, QImage::Format_RGB888,
         {qRgb(3, 2, 1), qRgb(6, 5, 4), qRgb(9, 8, 7), qRgb(12, 11, 10)}, 300},
        {"24 bit red first (Wine's SANE source)", dib(2, colour, 24, false, {}, 0), 0, true, QImage::Format_RGB888,
         {qRgb(1, 2, 3), qRgb(4, 5, 6), qRgb(7, 8, 9), qRgb(10, 11, 12)}, 200},
        {"8 bit gray ramp", dib(3, {{0, 128, 255}, {9, 8, 7}}, 8, false, grayRamp(), 7874), 0, false,
         QImage::Format_Grayscale8,
         {qRgb(0, 0, 0), qRgb(128, 128, 128), qRgb(255, 255, 255), qRgb(9, 9, 9), qRgb(8, 8, 8), qRgb(7, 7, 7)}, 200},
        // No resolution in the DIB: the one of the image information.
        {"8 bit palette", dib(2, {{0, 1}, {1, 0}}, 8, false, {0xff0000, 0x0000ff}, 0), 300, false,
         QImage::Format_Indexed8, {qRgb(255, 0, 0), qRgb(0, 0, 255), qRgb(0, 0, 255), qRgb(255, 0, 0)}, 300},
        // White first in the table: a set bit is black. 10 pixels: the row has padding bits.
        {"1 bit, white first", dib(10, {{0xA0, 0x40}, {0x00, 0xC0}}, 1, false, {0xffffff, 0x000000}, 3937), 0, false,
         QImage::Format_Mono,
         {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255),
          qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0),
          qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(255, 255, 255),
          qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0), qRgb(0, 0, 0)},
         100},
        {"32 bit", dib(1, {{1, 2, 3, 0}}, 32, false, {}, 5906), 0, false, QImage::Format_RGB888, {qRgb(3, 2, 1)}, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        Bitmap page = bitmapFromDib(c.data.data(), c.data.size(), 200, c.reportedDpi, c.swapRedBlue, &error);
        ASSERT_FALSE(page.image.isNull()) << error.toStdString();
        EXPECT_EQ(page.image.format(), c.format);
        const int w = page.width;
        ASSERT_EQ(size_t(w * page.height), c.expected.size());
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(page.image.pixel(int(i) % w, int(i) / w), c.expected[i]) << "pixel " << i;
        EXPECT_EQ(page.xResolution, c.dpi);
        EXPECT_EQ(page.yResolution, c.dpi);
        EXPECT_TRUE(page.allocated);
    }
}

TEST(TwainDib, MalformedBlocksAreRefusedWithoutReadingPastThem)
{
    const std::vector<uint8_t> good = dib(4, {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}, 24, false, {}, 0);
    auto with = [&](size_t at, uint32_t value, int bytes) {
        std::vector<uint8_t> v = good;
        for (int i = 0; i < bytes; ++i)
            v[at + i] = uint8_t(value >> (8 * i));
        return v;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
    } cases[] = {
        {"pixels cut short", std::vector<uint8_t>(good.begin(), good.end() - 1)},
        {"header only", std::vector<uint8_t>(good.begin(), good.begin() + 40)},
        {"shorter than a header", std::vector<uint8_t>(good.begin(), good.begin() + 39)},
        {"header size beyond the block", with(0, 4000, 4)},
        {"16 bits per pixel", with(14, 16, 2)},
        {"run-length compressed", with(16, 1, 4)},
        {"zero width", with(4, 0, 4)},
        {"more rows than data", with(8, 3, 4)},
        {"colour table beyond the block", with(32, 200, 4)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QString error;
        // A copy of exactly the block's size, so that a read past it is caught by tools.
        std::vector<uint8_t> exact(c.data);
        const Bitmap page = bitmapFromDib(exact.data(), exact.size(), 150, 0, false, &error);
        EXPECT_TRUE(page.image.isNull());
        EXPECT_FALSE(error.isEmpty());
    }
}

// --- Return and condition codes ----------------------------------------------------------

TEST(TwainCodes, ReturnAndConditionCodesGiveTheAcquisitionResults)
{
    struct Case {
        Stage stage;
        uint16_t rc, cc;
        int expected;
    } cases[] = {
        {Stage::Transfer, kRcXferDone, 0, ACQUIRE_SUCCESS},
        {Stage::Enable, kRcCheckStatus, 0, ACQUIRE_SUCCESS},
        {Stage::Transfer, kRcCancel, 0, ACQUIRE_CANCELLED},
        {Stage::OpenSource, kRcCancel, 0, ACQUIRE_CANCELLED},
        {Stage::Transfer, kRcFailure, 20, ACQUIRE_JAMMED},
        {Stage::Transfer, kRcFailure, 21, ACQUIRE_JAMMED},
        {Stage::Enable, kRcFailure, 29, ACQUIRE_NO_DOCS},
        {Stage::Transfer, kRcFailure, 24, ACQUIRE_COVER_OPEN},
        {Stage::Transfer, kRcFailure, 23, ACQUIRE_IO_ERROR},
        {Stage::OpenSource, kRcFailure, 3, ACQUIRE_NO_DEVICE},
        {Stage::OpenSource, kRcFailure, 4, ACQUIRE_DEVICE_BUSY},
        {Stage::Transfer, kRcFailure, 2, ACQUIRE_NO_MEMORY},
        {Stage::OpenSource, kRcFailure, 16, ACQUIRE_ACCESS_DENIED},
        {Stage::OpenSource, kRcFailure, 5, ACQUIRE_OPEN_FAILED},
        {Stage::OpenManager, kRcFailure, 1, ACQUIRE_OPEN_FAILED},
        {Stage::Transfer, kRcFailure, 5, ACQUIRE_FAILED},
        {Stage::Enable, kRcFailure, 1, ACQUIRE_FAILED},
    };
    for (const Case& c : cases)
        EXPECT_EQ(acquireResultFor(c.stage, c.rc, c.cc), c.expected) << "rc " << c.rc << " cc " << c.cc;
}

// --- Capability records ------------------------------------------------------------------

TEST(TwainWire, NegotiationCallsBecomeTheseRecords)
{
    const uint32_t res150 = 150; // whole part low, no fraction
    struct Case {
        const char* name;
        std::vector<WireCapability> got, expected;
    } cases[] = {
        {"1 bit", bitsPerPixelCapabilities(1), {{0x0101, 4, 0}, {0x112B, 4, 1}}},
        {"8 bit", bitsPerPixelCapabilities(8), {{0x0101, 4, 1}, {0x112B, 4, 8}}},
        {"24 bit", bitsPerPixelCapabilities(24), {{0x0101, 4, 2}, {0x112B, 4, 24}}},
        {"150 dpi", resolutionCapabilities(floatToFix32(150.0f), floatToFix32(150.0f)),
         {{0x1118, 7, res150}, {0x1119, 7, res150}}},
        {"200.5 and 100 dpi", resolutionCapabilities(floatToFix32(200.5f), floatToFix32(100.0f)),
         {{0x1118, 7, 0x8000u << 16 | 200}, {0x1119, 7, 100}}},
        {"pixels", {unitCapability(TWUN_PIXELS)}, {{0x0102, 4, 5}}},
        {"duplex on", {duplexCapability(1)}, {{0x1013, 6, 1}}},
        {"duplex off", {duplexCapability(0)}, {{0x1013, 6, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.got.size(), c.expected.size());
        for (size_t i = 0; i < c.got.size(); ++i) {
            EXPECT_EQ(c.got[i].cap, c.expected[i].cap) << i;
            EXPECT_EQ(c.got[i].itemType, c.expected[i].itemType) << i;
            EXPECT_EQ(c.got[i].item, c.expected[i].item) << i;
        }
    }
    EXPECT_EQ(fix32FromItem(fix32Item(floatToFix32(-2.25f))), floatToFix32(-2.25f));
}

// --- Sessions against the test data source -----------------------------------------------

namespace {

struct SessionRun {
    int result = 0;
    std::vector<Bitmap> pages;
    QStringList record;
};

// One session as the scan session drives it, with the test source's feeder and fault set.
SessionRun runSession(const QString& recordFile, int bitsPerPixel, float dpi, int flags, const char* fault,
                      const char* pages = "3")
{
    _putenv_s("KELVO_TESTDS_RECORD", QDir::toNativeSeparators(recordFile).toLocal8Bit().constData());
    _putenv_s("KELVO_TESTDS_PAGES", pages);
    _putenv_s("KELVO_TESTDS_FAULT", fault);
    QFile::remove(recordFile);
    SessionRun run;
    TwainDsm twain;
    EXPECT_TRUE(twain.isAvailable());
    EXPECT_EQ(twain.openSession(), ACQUIRE_SUCCESS);
    twain.startCapabilityNegotiation();
    twain.setCapability({CAP_FEEDERENABLED, TWTY_BOOL, 1}, 1);
    twain.setCapability({ICAP_XFERMECH, TWTY_UINT16, 0}, 1);
    twain.setBitsPerPixel(bitsPerPixel);
    const TW_FIX32 r = floatToFix32(dpi);
    twain.setResolution(r, r);
    twain.setUnit(TWUN_PIXELS);
    TW_FRAME frame;
    frame.Right = floatToFix32(static_cast<float>(210.0 * dpi / 25.4));
    frame.Bottom = floatToFix32(static_cast<float>(290.0 * dpi / 25.4));
    twain.setImageFrame(frame);
    twain.enableDuplex(0);
    twain.endCapabilityNegotiation();
    run.result = twain.acquire(
        [&](Bitmap& page) {
            run.pages.push_back(page);
            page.free();
            return ACQUIRE_SUCCESS;
        },
        flags, {});
    twain.endSession();
    QFile f(recordFile);
    if (f.open(QIODevice::ReadOnly))
        run.record = QString::fromLatin1(f.readAll()).split('\n', Qt::SkipEmptyParts);
    return run;
}

// Every 13th pixel of a page against the test source's pattern for that page number.
void expectPattern(const Bitmap& page, int number, int bitsPerPixel)
{
    int wrong = 0;
    for (int y = 0; y < page.height; y += 13) {
        for (int x = 0; x < page.width; x += 13) {
            const QRgb got = page.image.pixel(x, y);
            QRgb want;
            if (bitsPerPixel == 1) {
                want = kelvotest::patternBlack(number, x, y) ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
            } else if (bitsPerPixel == 8) {
                const int g = kelvotest::patternGray(number, x, y);
                want = qRgb(g, g, g);
            } else {
                uint8_t rgb[3];
                kelvotest::patternRgb(number, x, y, rgb);
                want = qRgb(rgb[0], rgb[1], rgb[2]);
            }
            wrong += got != want;
        }
    }
    EXPECT_EQ(wrong, 0) << "page " << number;
}

bool testSourceInstalled()
{
    const char* name = std::getenv("KELVO_TWAIN_SOURCE");
    return name && std::string(name) == KELVO_TEST_DS_NAME;
}

} // namespace

TEST(TwainSession, SendsTheNegotiationInOrderAndReceivesEveryPage)
{
    if (!testSourceInstalled())
        GTEST_SKIP() << "run through run-wine.sh, which installs the test data source";
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    struct Case {
        int bits;
        float dpi;
        int flags;
        int width, height;
        QStringList expectedRecord;
    } cases[] = {
        {24, 150.0f, 0, 1240, 1713,
         {"0x1002 6 1", "0x0103 4 0", "0x0101 4 2", "0x112b 4 24", "0x1118 7 150.000000", "0x1119 7 150.000000",
          "0x0102 4 5", "frame 0.000000 0.000000 1240.157471 1712.598389", "0x1013 6 0", "enable 0"}},
        {8, 200.0f, ACQUIRE_SHOW_UI, 1654, 2283,
         {"0x1002 6 1", "0x0103 4 0", "0x0101 4 1", "0x112b 4 8", "0x1118 7 200.000000", "0x1119 7 200.000000",
          "0x0102 4 5", "frame 0.000000 0.000000 1653.543335 2283.464600", "0x1013 6 0", "enable 1"}},
        {1, 300.0f, 0, 2480, 3425,
         {"0x1002 6 1", "0x0103 4 0", "0x0101 4 0", "0x112b 4 1", "0x1118 7 300.000000", "0x1119 7 300.000000",
          "0x0102 4 5", "frame 0.000000 0.000000 2480.314941 3425.196777", "0x1013 6 0", "enable 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        const SessionRun run = runSession(record, c.bits, c.dpi, c.flags, "");
        EXPECT_EQ(run.result, ACQUIRE_SUCCESS);
        EXPECT_EQ(run.record, c.expectedRecord);
        ASSERT_EQ(run.pages.size(), 3u);
        for (size_t i = 0; i < run.pages.size(); ++i) {
            const Bitmap& page = run.pages[i];
            EXPECT_EQ(page.bitsPerPixel, c.bits);
            EXPECT_EQ(page.width, c.width);
            EXPECT_EQ(page.height, c.height);
            EXPECT_EQ(page.xResolution, int(c.dpi));
            expectPattern(page, int(i) + 1, c.bits);
        }
    }
}

// Wine's SANE source refuses the unit, the resolution, the pixel type and the feeder, and
// never reports the last page. The layer leaves the frame out (in pixels it would be read as
// millimetres), takes the one page a flatbed gives and ends.
TEST(TwainSession, ASourceThatRefusesMostCapabilitiesStillGivesItsPage)
{
    if (!testSourceInstalled() || !std::getenv("WINEDLLPATH"))
        GTEST_SKIP() << "Wine's SANE source is not installed";
    QTemporaryDir dir;
    _putenv_s("KELVO_TWAIN_SOURCE", "test:0");
    const SessionRun run = runSession(dir.filePath(QStringLiteral("record.txt")), 24, 150.0f, 0, "");
    _putenv_s("KELVO_TWAIN_SOURCE", KELVO_TEST_DS_NAME);
    if (run.result == ACQUIRE_OPEN_FAILED || run.result == ACQUIRE_NO_DEVICE)
        GTEST_SKIP() << "no SANE test device behind Wine's source";
    EXPECT_EQ(run.result, ACQUIRE_SUCCESS);
    ASSERT_EQ(run.pages.size(), 1u);
    // The source's own frame, 216 x 279 mm at the device's 150 dpi (the pixel frame taken as
    // millimetres would have given the device's whole 300 mm width).
    EXPECT_NEAR(run.pages[0].width, 1275, 1);
    EXPECT_NEAR(run.pages[0].height, 1647, 1);
    EXPECT_TRUE(run.record.isEmpty()); // the test source was not involved
}

namespace {

// Answers the source manager's list of scanners once it shows: picks the entry `name` and
// presses OK, or presses Abbrechen/Cancel when name is null.
std::thread answerSourceList(const char* name)
{
    const DWORD process = GetCurrentProcessId();
    return std::thread([process, name] {
        for (int tries = 0; tries < 300; ++tries) {
            HWND dialog = nullptr;
            while ((dialog = FindWindowExW(nullptr, dialog, L"#32770", nullptr))) {
                DWORD owner = 0;
                GetWindowThreadProcessId(dialog, &owner);
                HWND list = FindWindowExW(dialog, nullptr, L"ListBox", nullptr);
                if (owner != process || !list || !IsWindowVisible(dialog))
                    continue;
                int button = IDCANCEL;
                if (name) {
                    const LRESULT index = SendMessageA(list, LB_FINDSTRINGEXACT, WPARAM(-1), LPARAM(name));
                    if (index == LB_ERR)
                        break;
                    SendMessageW(list, LB_SETCURSEL, WPARAM(index), 0);
                    button = IDOK;
                }
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                return;
            }
            Sleep(100);
        }
    });
}

} // namespace

// /S: the source manager's own list. The scanner chosen there is the one opened, for the rest
// of the process, whatever the default would have been; closing the list is a cancel.
// After the SANE case (the choice stays) and before the faults (a crash ends all use).
TEST(TwainSession, TheScannerChosenInTheSourceManagersListIsTheOneUsed)
{
    if (!testSourceInstalled())
        GTEST_SKIP() << "run through run-wine.sh, which installs the test data source";
    {
        TwainDsm twain;
        ASSERT_EQ(twain.openSession(), ACQUIRE_SUCCESS);
        std::thread answer = answerSourceList(nullptr);
        EXPECT_EQ(twain.selectSource(), ACQUIRE_CANCELLED);
        answer.join();
        twain.endSession();
    }
    {
        TwainDsm twain;
        ASSERT_EQ(twain.openSession(), ACQUIRE_SUCCESS);
        std::thread answer = answerSourceList(KELVO_TEST_DS_NAME);
        EXPECT_EQ(twain.selectSource(), ACQUIRE_SUCCESS);
        answer.join();
        twain.endSession();
    }
    // A default that names another scanner no longer counts.
    QTemporaryDir dir;
    _putenv_s("KELVO_TWAIN_SOURCE", "test:0");
    const SessionRun run = runSession(dir.filePath(QStringLiteral("record.txt")), 24, 100.0f, 0, "");
    _putenv_s("KELVO_TWAIN_SOURCE", KELVO_TEST_DS_NAME);
    EXPECT_EQ(run.result, ACQUIRE_SUCCESS);
    EXPECT_EQ(run.pages.size(), 3u);
    EXPECT_FALSE(run.record.isEmpty());
}

TEST(TwainSession, FaultsOfTheSourceEndTheAcquisitionWithTheirCodes)
{
    if (!testSourceInstalled())
        GTEST_SKIP() << "run through run-wine.sh, which installs the test data source";
    QTemporaryDir dir;
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    struct Case {
        const char* fault;
        const char* pages;
        int result;
        size_t pagesKept;
    } cases[] = {
        {"jam:2", "3", ACQUIRE_JAMMED, 1},
        {"nopaper", "3", ACQUIRE_NO_DOCS, 0},
        {"", "0", ACQUIRE_NO_DOCS, 0},
        {"cancel:1", "3", ACQUIRE_CANCELLED, 0},
        {"cancel:3", "3", ACQUIRE_CANCELLED, 2},
        // Last: after a crash the driver is not called again in this process.
        {"crash:3", "3", ACQUIRE_FAILED, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        const SessionRun run = runSession(record, 24, 100.0f, 0, c.fault, c.pages);
        EXPECT_EQ(run.result, c.result);
        ASSERT_EQ(run.pages.size(), c.pagesKept);
        for (size_t i = 0; i < run.pages.size(); ++i)
            expectPattern(run.pages[i], int(i) + 1, 24);
    }
    // The crashed driver stays out of use; the program goes on.
    TwainDsm twain;
    EXPECT_EQ(twain.openSession(), ACQUIRE_FAILED);
    EXPECT_EQ(twain.acquire({}, 0, {}), ACQUIRE_FAILED);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
