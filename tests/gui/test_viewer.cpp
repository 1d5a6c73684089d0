// The image window: sizing against the main window, scroll ranges, painting with the view
// orientation, its size limits, and every reader on truncated and corrupted files.
#include "scan/SaveBitmap.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "imaging/ImageFile.h"
#include "support/Fakes.h"
#include "support/Tools.h"
#include "viewer/MdiChild.h"

#include <QFile>
#include <QImageWriter>
#include <QAction>
#include <QApplication>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QStatusBar>
#include <QStyle>
#include <QWheelEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include "support/System.h"

#include <gtest/gtest.h>

using namespace kelvo;
using namespace kelvo::test;

TEST(ChildSizing, ClientSizeFromTheMainWindow)
{
    const struct {
        int mainHeight, top, imageHeight, expected;
    } heights[] = {{600, 0, 2000, 505}, {600, 100, 2000, 405}, {600, 0, 300, 300}, {600, 100, 499, 499},
                   {600, 100, 500, 400}, {600, 0, 520, 520}, {600, 0, 600, 505}, {600, 550, 2000, -45}};
    for (const auto& c : heights)
        EXPECT_EQ(childClientHeight(c.mainHeight, c.top, c.imageHeight), c.expected)
            << c.mainHeight << " " << c.top << " " << c.imageHeight;
    const struct {
        int mainWidth, left, imageWidth;
        bool scrollBar;
        int expected;
    } widths[] = {{800, 0, 300, true, 316}, {800, 0, 300, false, 300}, {800, 10, 2000, true, 755},
                  {800, 0, 787, true, 803}, {800, 0, 788, true, 765}, {800, 100, 700, true, 600}, {800, 100, 687, true, 703}};
    for (const auto& c : widths)
        EXPECT_EQ(childClientWidth(c.mainWidth, c.left, c.imageWidth, c.scrollBar), c.expected)
            << c.mainWidth << " " << c.left << " " << c.imageWidth;
}

namespace {

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setMessageHook([this](const QString& t, const QString&, int) {
            messages << t;
            return IDOK;
        });
        window = std::make_unique<TKelvoScan>(QStringList{"KelvoBild"}, QLocale::c(),
                                              Services{&twain, &launcher, &notifier, dir.path()}, session);
        window->resize(900, 700);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override
    {
        window.reset();
        setMessageHook({});
    }
    TMDIChild* open(const QString& file)
    {
        window->OpenChildWindow(file);
        QTest::qWait(30);
        return qobject_cast<TMDIChild*>(window->mdiArea()->subWindowList(QMdiArea::CreationOrder).last());
    }
    QString path(const QString& n) const { return dir.path() + QLatin1Char('/') + n; }
    static QImage pattern(int w, int h)
    {
        QImage img(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                img.setPixel(x, y, qRgb(x % 256, y % 256, (x * 7 + y * 3) % 256));
        return img;
    }

    QTemporaryDir dir;
    FakeTwain twain;
    FakeLauncher launcher;
    FakeNotifier notifier;
    SessionState session;
    QStringList messages;
    std::unique_ptr<TKelvoScan> window;
};

} // namespace

TEST_F(ViewerTest, TallImageSizesItsWindowToTheMainWindow)
{
    ASSERT_TRUE(pattern(300, 2000).save(path(QStringLiteral("tall.png"))));
    TMDIChild* child = open(path(QStringLiteral("tall.png")));
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->windowTitle(), path(QStringLiteral("tall.png")));
    ASSERT_TRUE(child->bitmap().allocated);
    const QSize main = window->clientSizeForChildren();
    const QPoint pos = child->geometry().topLeft();
    EXPECT_EQ(child->view()->height(), childClientHeight(main.height(), pos.y(), 2000));
    // 316 wide as sized, then held to the image width plus 17 by the resize rule.
    EXPECT_EQ(childClientWidth(main.width(), pos.x(), 300, true), 316);
    EXPECT_EQ(child->width(), 300 + 17);
    EXPECT_EQ(child->scanDocumentSize(), QSize(300, 2000));
    QScrollBar* v = child->view()->verticalScrollBar();
    EXPECT_EQ(v->maximum(), 2000 - child->view()->viewport()->height());
    EXPECT_EQ(child->view()->horizontalScrollBar()->maximum(), 300 - child->view()->viewport()->width());
}

TEST_F(ViewerTest, NewWindowsCascadeAndSizeByTheirPlace)
{
    ASSERT_TRUE(pattern(300, 2000).save(path(QStringLiteral("tall.png"))));
    const QSize main = window->clientSizeForChildren();
    for (int i = 0; i < 3; ++i) {
        TMDIChild* child = open(path(QStringLiteral("tall.png")));
        EXPECT_EQ(child->geometry().topLeft(), QPoint(24 * i, 24 * i));
        EXPECT_EQ(child->view()->height(), childClientHeight(main.height(), 24 * i, 2000));
    }
}

TEST_F(ViewerTest, TheWindowNeverGrowsPastItsImage)
{
    ASSERT_TRUE(pattern(240, 160).save(path(QStringLiteral("small.png"))));
    TMDIChild* child = open(path(QStringLiteral("small.png")));
    ASSERT_NE(child, nullptr);
    child->resize(600, 500);
    EXPECT_EQ(child->size(), QSize(240 + 17, 160 + 42));
    child->resize(200, 150); // smaller than the image is allowed
    EXPECT_EQ(child->size(), QSize(200, 150));
}

// An empty window and a tiny picture keep a window whose caption and buttons can be read.
TEST_F(ViewerTest, SmallestWindowKeepsItsTitleBarReadable)
{
    ASSERT_TRUE(pattern(3, 2).save(path(QStringLiteral("tiny.png"))));
    for (const QString& name : {QStringLiteral("NONAME1"), path(QStringLiteral("tiny.png"))}) {
        SCOPED_TRACE(name.toStdString());
        TMDIChild* child = open(name);
        child->resize(1, 1);
        const QSize min = child->minimumSize();
        EXPECT_EQ(child->size(), min);
        EXPECT_GE(min.width(), 120);
        EXPECT_GE(min.height(), child->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, child));
    }
}

// Zoom keeps the image point under the pointer, scales scroll ranges and the window's limits,
// paints enlarged pixels as blocks above 200 % and returns to 1:1 with Ctrl+0.
TEST_F(ViewerTest, ZoomScalesPaintingScrollingAndLimits)
{
    const QImage img = pattern(600, 400);
    ASSERT_TRUE(img.save(path(QStringLiteral("zoom.png"))));
    TMDIChild* child = open(path(QStringLiteral("zoom.png")));
    ASSERT_TRUE(child->bitmap().allocated);
    ImageView* view = child->view();
    child->resize(300, 250);
    QTest::qWait(20);
    const QSize vp = view->viewport()->size();

    // Ctrl+wheel up one notch over (50, 40): 125 %, that image point stays under the pointer.
    view->horizontalScrollBar()->setValue(10);
    view->verticalScrollBar()->setValue(20);
    QWheelEvent wheel(QPointF(50, 40), view->viewport()->mapToGlobal(QPointF(50, 40)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_DOUBLE_EQ(view->zoom(), 1.25);
    EXPECT_EQ(view->horizontalScrollBar()->value(), qRound((10 + 50) * 1.25 - 50));
    EXPECT_EQ(view->verticalScrollBar()->value(), qRound((20 + 40) * 1.25 - 40));

    const struct {
        double zoom;
        bool blocks; // nearest pixels: a 4x block of one colour
    } cases[] = {{4.0, true}, {3.0, true}, {0.5, false}, {0.25, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zoom);
        view->setZoom(c.zoom, QPoint(0, 0));
        view->horizontalScrollBar()->setValue(0);
        view->verticalScrollBar()->setValue(0);
        QTest::qWait(20);
        EXPECT_EQ(view->horizontalScrollBar()->maximum(), std::max(0, qRound(600 * c.zoom) - view->viewport()->width()));
        EXPECT_EQ(view->verticalScrollBar()->maximum(), std::max(0, qRound(400 * c.zoom) - view->viewport()->height()));
        const QImage shot = view->viewport()->grab().toImage();
        if (c.blocks) {
            const int z = int(c.zoom);
            for (const QPoint p : {QPoint(5, 7), QPoint(30, 12)})
                for (const QPoint d : {QPoint(0, 0), QPoint(z - 1, z - 1)})
                    EXPECT_EQ(shot.pixel(p * z + d), img.pixel(p)) << p.x() << "," << p.y();
        } else {
            // The reduced picture's size: the button face starts right after it.
            EXPECT_LE(child->width(), qRound(600 * c.zoom) + 17);
            EXPECT_LE(child->height(), qRound(400 * c.zoom) + 42);
        }
    }
    // Shortcuts of the window: 1:1, a step in, a step out, the whole page.
    const struct {
        QKeyCombination key;
        double from, to;
    } keys[] = {{Qt::CTRL | Qt::Key_0, 0.25, 1.0}, {Qt::CTRL | Qt::Key_Plus, 1.0, 1.25},
                {Qt::CTRL | Qt::Key_Minus, 1.25, 1.0}, {Qt::CTRL | Qt::Key_Minus, 1.0, 0.75}};
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    view->setFocus();
    for (const auto& k : keys) {
        EXPECT_DOUBLE_EQ(view->zoom(), k.from);
        QTest::keyClick(view, k.key.key(), k.key.keyboardModifiers());
        EXPECT_DOUBLE_EQ(view->zoom(), k.to);
    }
    child->zoomAction(QStringLiteral("ZoomWholePage"))->trigger();
    EXPECT_LE(view->zoom(), std::min(double(vp.width() + 20) / 600, double(vp.height() + 20) / 400));
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    EXPECT_TRUE(window->statusBar()->currentMessage().startsWith(QStringLiteral("Zoom: "))) << window->statusBar()->currentMessage().toStdString();
    // Each command is in the window's system menu and in the picture's context menu.
    for (const char* name : {"ZoomOriginal", "ZoomWholePage", "ZoomIn", "ZoomOut"}) {
        QAction* a = child->zoomAction(QLatin1String(name));
        ASSERT_NE(a, nullptr);
        EXPECT_TRUE(child->systemMenu()->actions().contains(a)) << name;
        EXPECT_TRUE(view->actions().contains(a)) << name;
    }
    EXPECT_EQ(nextZoomStep(16.0, true), 16.0);
    EXPECT_EQ(nextZoomStep(0.05, false), 0.05);
    EXPECT_EQ(nextZoomStep(0.37, true), 0.5);
    EXPECT_EQ(nextZoomStep(0.37, false), 0.333);
}

// Ctrl+F4 and Ctrl+W close the active image window.
TEST_F(ViewerTest, CtrlF4AndCtrlWCloseTheActiveWindow)
{
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    for (const QKeyCombination key : {Qt::CTRL | Qt::Key_F4, Qt::CTRL | Qt::Key_W}) {
        TMDIChild* child = open(QStringLiteral("NONAME1"));
        window->mdiArea()->setActiveSubWindow(child);
        QPointer<TMDIChild> alive(child);
        QTest::keyClick(child->view(), key.key(), key.keyboardModifiers());
        QTest::qWait(20);
        EXPECT_TRUE(alive.isNull()) << QKeySequence(key).toString().toStdString();
    }
}

TEST_F(ViewerTest, PaintsTheScrolledPartAndOnlyTheUncoveredStrip)
{
    const QImage img = pattern(1500, 1500);
    ASSERT_TRUE(img.save(path(QStringLiteral("big.png"))));
    TMDIChild* child = open(path(QStringLiteral("big.png")));
    ASSERT_NE(child, nullptr);
    ImageView* view = child->view();
    view->horizontalScrollBar()->setValue(37);
    view->verticalScrollBar()->setValue(91);
    QTest::qWait(30);
    const QImage shot = view->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixel(0, 0), img.pixel(37, 91));
    EXPECT_EQ(shot.pixel(10, 20), img.pixel(47, 111));

    view->repaint();
    QTest::qWait(30);
    view->resetPaintedArea();
    view->verticalScrollBar()->setValue(91 + 8);
    QTest::qWait(50);
    const qint64 strip = qint64(view->viewport()->width()) * 8;
    const qint64 whole = qint64(view->viewport()->width()) * view->viewport()->height();
    EXPECT_GT(view->paintedArea(), 0);
    EXPECT_LE(view->paintedArea(), strip * 2) << "whole viewport is " << whole;
}

TEST_F(ViewerTest, ViewOrientationSwapsAndTurnsThePicture)
{
    const QImage img = pattern(30, 20);
    const struct {
        QImageIOHandler::Transformation t;
        int orientation;
        QPoint displayedOrigin; // image pixel shown at the top-left corner
    } cases[] = {
        {QImageIOHandler::TransformationNone, 1, {0, 0}},
        {QImageIOHandler::TransformationRotate90, 6, {0, 19}},
        {QImageIOHandler::TransformationRotate180, 3, {29, 19}},
        {QImageIOHandler::TransformationRotate270, 8, {29, 0}},
        {QImageIOHandler::TransformationMirror, 2, {29, 0}},
    };
    for (const auto& c : cases) {
        const QString file = path(QStringLiteral("o%1.tif").arg(c.orientation));
        QImageWriter w(file, "tiff");
        w.setTransformation(c.t);
        ASSERT_TRUE(w.write(img)) << w.errorString().toStdString();
        TMDIChild* child = open(file);
        ASSERT_TRUE(child->bitmap().allocated);
        EXPECT_EQ(child->bitmap().viewOrientation, c.orientation);
        const bool swap = c.orientation >= 5;
        EXPECT_EQ(child->bitmap().displayedWidth(), swap ? 20 : 30);
        // Sizing uses the unswapped size.
        EXPECT_EQ(child->scanDocumentSize(), QSize(30, 20));
        const QImage shot = child->view()->viewport()->grab().toImage();
        EXPECT_EQ(shot.pixel(0, 0), img.pixel(c.displayedOrigin)) << c.orientation;
    }
}

TEST_F(ViewerTest, BrokenFilesGiveEmptyWindowsWithoutAMessage)
{
    const QImage img = pattern(97, 61);
    QStringList files;
    Bitmap source = Bitmap::fromImage(img.convertToFormat(QImage::Format_RGB888));
    ASSERT_EQ(L_SaveBitmap(path(QStringLiteral("good.gif")), source, FILE_GIF, 8, 0), SUCCESS);
    files << path(QStringLiteral("good.gif"));
    for (const char* fmt : {"png", "jpg", "bmp", "tif"}) {
        const QString good = path(QStringLiteral("good.") + QLatin1String(fmt));
        ASSERT_TRUE(img.save(good)) << fmt;
        files << good;
    }
    ASSERT_EQ(L_SaveBitmap(path(QStringLiteral("good.pcx")), source, FILE_PCX, 24, 0), SUCCESS);
    files << path(QStringLiteral("good.pcx"));

    int windows = 0;
    for (const QString& good : files) {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        // The good file loads; cuts and damage never crash and never show a broken image.
        Bitmap b;
        ASSERT_EQ(L_LoadFile(good, b), SUCCESS) << good.toStdString();
        const struct {
            const char* name;
            QByteArray bytes;
        } broken[] = {
            {"header", data.left(10)},
            {"empty", QByteArray()},
            {"garbage", QByteArray(500, '\xC7')},
            {"magic", QByteArray("\x89PNG\r\n\x1a\n") + QByteArray(40, '\0')},
        };
        for (const auto& bad : broken) {
            const QString name = good + QLatin1Char('.') + QLatin1String(bad.name);
            QFile out(name);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(bad.bytes);
            out.close();
            TMDIChild* child = open(name);
            ++windows;
            EXPECT_FALSE(child->bitmap().allocated) << name.toStdString();
            EXPECT_FALSE(child->view()->hasScrollRanges());
            EXPECT_EQ(child->windowTitle(), name);
        }
        // Every cut length of the file: loads or fails cleanly.
        for (int cut = 0; cut < data.size(); cut += std::max<int>(1, int(data.size()) / 97)) {
            const QString name = path(QStringLiteral("cut"));
            QFile out(name);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(data.left(cut));
            out.close();
            Bitmap c;
            const int r = L_LoadFile(name, c);
            if (r == SUCCESS) {
                EXPECT_EQ(c.width, 97) << good.toStdString() << " cut " << cut;
                EXPECT_EQ(c.height, 61);
            }
        }
    }
    EXPECT_EQ(window->mdiArea()->subWindowList().size(), windows);
    EXPECT_TRUE(messages.isEmpty());
}

namespace {

// A 24-bit BMP stored top row first, as a negative height says.
QByteArray topDownBmp(const QImage& img)
{
    const int w = img.width(), h = img.height(), stride = (w * 3 + 3) & ~3;
    QByteArray b;
    const auto u16 = [&](int v) { b.append(char(v & 255)).append(char((v >> 8) & 255)); };
    const auto u32 = [&](qint64 v) { u16(int(v & 0xffff)), u16(int((v >> 16) & 0xffff)); };
    b.append("BM");
    u32(54 + qint64(stride) * h), u32(0), u32(54);
    u32(40), u32(w), u32(-qint64(h)), u16(1), u16(24), u32(0), u32(qint64(stride) * h), u32(2835), u32(2835), u32(0), u32(0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const QRgb c = img.pixel(x, y);
            b.append(char(qBlue(c))).append(char(qGreen(c))).append(char(qRed(c)));
        }
        b.append(QByteArray(stride - w * 3, '\0'));
    }
    return b;
}

bool writeFile(const QString& name, const QByteArray& bytes)
{
    QFile f(name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

// What other viewers open opens here too, whatever the file's name says: a top-down BMP, an
// icon and a cursor, TGA, and SVG at its natural size.
TEST_F(ViewerTest, OtherReadersFormatsOpen)
{
    const QImage img = pattern(40, 24);
    ASSERT_TRUE(writeFile(path(QStringLiteral("topdown.bmp")), topDownBmp(img)));
    ASSERT_TRUE(img.save(path(QStringLiteral("icon.ico")), "ico"));
    QFile ico(path(QStringLiteral("icon.ico")));
    ASSERT_TRUE(ico.open(QIODevice::ReadOnly));
    QByteArray cur = ico.readAll();
    cur[2] = 2; // the directory type of a cursor; the hot spot stays 0, 0
    ASSERT_TRUE(writeFile(path(QStringLiteral("pointer.cur")), cur));
    ASSERT_TRUE(img.save(path(QStringLiteral("source.png"))));
    // As GraphicsMagick writes TGA: no footer, bottom row first.
    ASSERT_EQ(kelvo::test::runTool(QStringLiteral("gm"), {QStringLiteral("convert"), path(QStringLiteral("source.png")),
                                                        QStringLiteral("tga:") + path(QStringLiteral("picture.tga"))}).exitCode, 0);
    ASSERT_TRUE(writeFile(path(QStringLiteral("drawing.svg")),
                          "<svg xmlns='http://www.w3.org/2000/svg' width='40' height='24'>"
                          "<rect width='40' height='24' fill='#ffffff'/><rect width='20' height='12' fill='#ff0000'/></svg>"));
    const struct {
        const char* file;
        bool exact; // pixels as written; SVG draws its own picture
    } cases[] = {{"topdown.bmp", true}, {"icon.ico", true}, {"pointer.cur", true}, {"picture.tga", true}, {"drawing.svg", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TMDIChild* child = open(path(QLatin1String(c.file)));
        ASSERT_TRUE(child->bitmap().allocated);
        EXPECT_EQ(child->scanDocumentSize(), QSize(40, 24));
        const QImage shown = child->view()->viewport()->grab().toImage();
        if (c.exact) {
            for (const QPoint p : {QPoint(0, 0), QPoint(39, 0), QPoint(0, 23), QPoint(17, 11)})
                EXPECT_EQ(shown.pixel(p), img.pixel(p)) << p.x() << "," << p.y();
        } else {
            EXPECT_EQ(shown.pixel(5, 5), qRgb(255, 0, 0));
            EXPECT_EQ(shown.pixel(30, 20), qRgb(255, 255, 255));
        }
    }
}

// A picture with transparency shows on white, the same wherever it is scrolled to.
TEST_F(ViewerTest, TransparencyShowsOnWhite)
{
    QImage img(600, 500, QImage::Format_ARGB32);
    img.fill(qRgba(0, 0, 0, 0));
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < 300; ++x)
            img.setPixel(x, y, qRgba(0, 0, 255, 128));
    ASSERT_TRUE(img.save(path(QStringLiteral("alpha.png"))));
    TMDIChild* child = open(path(QStringLiteral("alpha.png")));
    ASSERT_TRUE(child->bitmap().allocated);
    ImageView* view = child->view();
    const auto near = [](QRgb a, QRgb b) {
        return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 && std::abs(qBlue(a) - qBlue(b)) <= 2;
    };
    for (int step = 0; step < 4; ++step) {
        view->horizontalScrollBar()->setValue(step * 7);
        view->verticalScrollBar()->setValue(step * 11);
        QTest::qWait(20);
        const QImage shown = view->viewport()->grab().toImage();
        const int h = view->horizontalScrollBar()->value();
        EXPECT_TRUE(near(shown.pixel(10, 10), qRgb(127, 127, 255))) << std::hex << shown.pixel(10, 10);
        EXPECT_TRUE(near(shown.pixel(310 - h, 10), qRgb(255, 255, 255))) << std::hex << shown.pixel(310 - h, 10);
    }
}

// A FIFO or a device as the file name gives an empty window at once; nothing waits for a
// writer that never comes.
TEST_F(ViewerTest, FifoAndDeviceGiveEmptyWindows)
{
    const QString fifo = path(QStringLiteral("pipe"));
    KELVO_POSIX_ONLY();
    ASSERT_TRUE(makeFifo(fifo));
    for (const QString& name : {fifo, QStringLiteral("/dev/zero")}) {
        SCOPED_TRACE(name.toStdString());
        FileInfo info;
        EXPECT_EQ(L_FileInfo(name, info, FILEINFO_SIZE), ERROR_FILE_NOT_FOUND);
        Bitmap b;
        EXPECT_EQ(L_LoadFile(name, b), ERROR_FILE_NOT_FOUND);
        TMDIChild* child = open(name);
        EXPECT_FALSE(child->bitmap().allocated);
        EXPECT_EQ(child->windowTitle(), name);
    }
    EXPECT_TRUE(messages.isEmpty());
}

TEST(LargePage, A4At600DpiColourOpens)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/a4.jpg");
    {
        QImage page(4960, 7016, QImage::Format_RGB32);
        page.fill(qRgb(200, 210, 220));
        ASSERT_TRUE(page.save(file, "JPEG", 50));
    }
    Bitmap b;
    ASSERT_EQ(L_LoadFile(file, b), SUCCESS);
    EXPECT_EQ(b.width, 4960);
    EXPECT_EQ(b.height, 7016);
    EXPECT_EQ(b.bitsPerPixel, 24);
}
