// The image document window: one image file, loaded once when the window is created, shown
// at 1:1 inside the main window with scroll bars, painted only where it is uncovered. The
// user may zoom (Ctrl+wheel, Ctrl+Plus/Minus, Ctrl+0 for 1:1, Ctrl+9 for the whole page).
#pragma once

#include "imaging/Bitmap.h"

#include <QAbstractScrollArea>
#include <QMdiSubWindow>

#include <optional>

class QAction;
class QMenu;
class QMdiArea;

namespace kelvo {

// The window's client size from the main window's client size (N x M), the window's place in
// it (L, T) and the image size; non-positive results are left to the window system.
int childClientHeight(int mainClientHeight, int top, int imageHeight);
int childClientWidth(int mainClientWidth, int left, int imageWidth, bool verticalScrollBarVisible);

// Zoom factors offered by zooming in and out, as fractions of 1:1.
inline constexpr double kZoomSteps[] = {0.05, 0.1, 0.125, 0.167, 0.25, 0.333, 0.5, 0.667, 0.75, 1.0,
                                        1.25, 1.5, 2.0, 3.0, 4.0, 6.0, 8.0, 12.0, 16.0};
// The next factor of kZoomSteps above (`up`) or below the given one; the same at either end.
double nextZoomStep(double zoom, bool up);

// Scrolls over and paints the bitmap at a zoom factor; counts the area it paints so that
// scrolling cost can be measured.
class ImageView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ImageView(const Bitmap& bitmap, QWidget* parent = nullptr);
    // Sets the scroll ranges to the displayed image size (they stay as set).
    void setScrollRanges(int displayedWidth, int displayedHeight);
    bool hasScrollRanges() const { return m_rangesSet; }
    qint64 paintedArea() const { return m_paintedArea; }
    void resetPaintedArea() { m_paintedArea = 0; }

    double zoom() const { return m_zoom; }
    // Sets the factor, keeping the image point under `anchor` (viewport coordinates; the
    // viewport's centre when none is given) where it is.
    void setZoom(double zoom, std::optional<QPoint> anchor = std::nullopt);
    // The factor at which the whole displayed image fits the window without scroll bars.
    double fitZoom() const;
    // The image scaled by the zoom factor, in image orientation (unswapped).
    QSize zoomedImageSize() const;
    // The same as shown: width and height swapped for orientations 5 to 8.
    QSize zoomedDisplayedSize() const;
    // A picture smaller than the window is drawn in its middle (a maximised window), instead
    // of at the top left.
    void setCentred(bool on);
    // Where the picture's top left corner is drawn when scrolled to 0, 0.
    QPoint origin() const;

signals:
    void zoomChanged(double zoom);

protected:
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void updateScrollBars();
    void paintZoomed(QPainter& painter, const QRect& dest, const QRect& clip);

    const Bitmap& m_bitmap;
    QSize m_content;
    bool m_rangesSet = false;
    qint64 m_paintedArea = 0;
    double m_zoom = 1.0;
    bool m_centred = false;
    // The image reduced once for a factor below 1:1 (smoothly, which painting cannot afford).
    Bitmap m_reduced;
    int m_wheelDelta = 0;
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
    // Zoom commands, also in the window's system menu and context menu.
    QAction* zoomAction(const QString& name) const;
    // The context menu as Shift+F10 opens it.
    QMenu* contextMenu() const { return m_contextMenu; }
    void zoomIn();
    void zoomOut();
    void zoomOriginal();
    void zoomWholePage();
    // "Ganze Seite" holds until the user zooms: the picture is fitted again whenever the
    // window's size changes.
    bool fitsWholePage() const { return m_fitted; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void formCreate(const QString& fileName, QSize mainClientSize);
    void formResize();
    // Sizes the window to the picture as shown, within the main window as at creation and
    // within the MDI area.
    void sizeToPicture(QSize mainClientSize);
    QSize mainClientSize() const;
    void refit();
    void createZoomActions();
    void zoomTo(double zoom);
    void showZoom() const;

    Bitmap m_bitmap;
    ImageView* m_view = nullptr;
    QSize m_scanDocument{273, 169};
    bool m_inResize = false;
    bool m_fitted = false;
    bool m_refitting = false; // the zoom changes to fit, not by the user
    QList<QAction*> m_zoomActions;
    QMenu* m_contextMenu = nullptr;
};

} // namespace kelvo
