// The image document window: one image file, loaded once when the window is created, shown
// at 1:1 inside the main window with scroll bars, painted only where it is uncovered.
#pragma once

#include "imaging/Bitmap.h"

#include <QAbstractScrollArea>
#include <QMdiSubWindow>

class QMdiArea;

namespace kelvo {

// The window's client size from the main window's client size (N x M), the window's place in
// it (L, T) and the image size; non-positive results are left to the window system.
int childClientHeight(int mainClientHeight, int top, int imageHeight);
int childClientWidth(int mainClientWidth, int left, int imageWidth, bool verticalScrollBarVisible);

// Scrolls over and paints the bitmap; counts the area it paints so that scrolling cost can
// be measured.
class ImageView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ImageView(const Bitmap& bitmap, QWidget* parent = nullptr);
    // Sets the scroll ranges to the displayed image size (they stay as set).
    void setScrollRanges(int displayedWidth, int displayedHeight);
    bool hasScrollRanges() const { return m_rangesSet; }
    qint64 paintedArea() const { return m_paintedArea; }
    void resetPaintedArea() { m_paintedArea = 0; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void updateScrollBars();

    const Bitmap& m_bitmap;
    QSize m_content;
    bool m_rangesSet = false;
    qint64 m_paintedArea = 0;
};

class TMDIChild final : public QMdiSubWindow {
    Q_OBJECT
public:
    // Adds itself to `area`, shows itself and loads `fileName` (FormCreate). `mainClientSize`
    // is the main window's client size, below its menu bar.
    TMDIChild(QMdiArea* area, const QString& fileName, QSize mainClientSize);
    ~TMDIChild() override;

    const Bitmap& bitmap() const { return m_bitmap; }
    ImageView* view() const { return m_view; }
    // The size holder the window may not outgrow (design size 273 x 169 until an image loads).
    QSize scanDocumentSize() const { return m_scanDocument; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void formCreate(const QString& fileName, QSize mainClientSize);
    void formResize();

    Bitmap m_bitmap;
    ImageView* m_view = nullptr;
    QSize m_scanDocument{273, 169};
    bool m_inResize = false;
};

} // namespace kelvo
