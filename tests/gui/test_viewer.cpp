// The image window: sizing against the main window, scroll ranges, painting with the view
// orientation, its size limits, and every reader on truncated and corrupted files.
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "imaging/ImageFile.h"
#include "support/Fakes.h"
#include "viewer/MdiChild.h"

#include <QFile>
#include <QImageWriter>
#include <QMdiArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

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
    ASSERT_TRUE(pattern(120, 80).save(path(QStringLiteral("small.png"))));
    TMDIChild* child = open(path(QStringLiteral("small.png")));
    ASSERT_NE(child, nullptr);
    child->resize(600, 500);
    EXPECT_EQ(child->size(), QSize(120 + 17, 80 + 42));
    child->resize(100, 60); // smaller than the image is allowed
    EXPECT_EQ(child->size(), QSize(100, 60));
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
