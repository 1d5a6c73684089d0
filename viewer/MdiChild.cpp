#include "viewer/MdiChild.h"

#include "imaging/ImageFile.h"

#include <QFileInfo>
#include <QLayout>
#include <QMdiArea>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace kelvo {

int childClientHeight(int mainClientHeight, int top, int imageHeight)
{
    if (imageHeight < mainClientHeight - top)
        return imageHeight;
    return std::min(mainClientHeight - 95, imageHeight) - top;
}

int childClientWidth(int mainClientWidth, int left, int imageWidth, bool verticalScrollBarVisible)
{
    if (imageWidth < mainClientWidth - left - 12)
        return imageWidth + (verticalScrollBarVisible ? 16 : 0);
    return std::min(mainClientWidth - 35, imageWidth) - left;
}

// ---------------------------------------------------------------------------------------

ImageView::ImageView(const Bitmap& bitmap, QWidget* parent)
    : QAbstractScrollArea(parent), m_bitmap(bitmap)
{
    setFrameShape(QFrame::NoFrame);
    // We paint every pixel ourselves: image where there is one, button face elsewhere.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAutoFillBackground(false);
    horizontalScrollBar()->setSingleStep(8);
    verticalScrollBar()->setSingleStep(8);
}

void ImageView::setScrollRanges(int displayedWidth, int displayedHeight)
{
    m_content = QSize(displayedWidth, displayedHeight);
    m_rangesSet = true;
    updateScrollBars();
}

void ImageView::updateScrollBars()
{
    if (!m_rangesSet)
        return;
    const QSize vp = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, m_content.width() - vp.width()));
    horizontalScrollBar()->setPageStep(vp.width());
    verticalScrollBar()->setRange(0, std::max(0, m_content.height() - vp.height()));
    verticalScrollBar()->setPageStep(vp.height());
}

void ImageView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void ImageView::scrollContentsBy(int dx, int dy)
{
    // Moves what is already painted; only the uncovered strip gets a paint event.
    viewport()->scroll(dx, dy);
}

void ImageView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const QRect clip = event->rect();
    m_paintedArea += qint64(clip.width()) * clip.height();
    const QColor face = palette().color(QPalette::Button);
    if (!m_bitmap.allocated) {
        painter.fillRect(clip, face);
        return;
    }
    const int h = horizontalScrollBar()->value();
    const int v = verticalScrollBar()->value();
    const QRect dest(-h, -v, m_bitmap.displayedWidth(), m_bitmap.displayedHeight());
    for (const QRect& r : event->region()) {
        L_PaintDC(painter, m_bitmap, dest, r);
        for (const QRect& bg : (QRegion(r) - QRegion(dest)))
            painter.fillRect(bg, face);
    }
}

// ---------------------------------------------------------------------------------------

TMDIChild::TMDIChild(QMdiArea* area, const QString& fileName, QSize mainClientSize)
{
    setAttribute(Qt::WA_DeleteOnClose); // closing destroys the window
    setWindowTitle(QStringLiteral("Untergeordnetes MDI"));
    m_view = new ImageView(m_bitmap, this);
    setWidget(m_view);
    resize(279 + 8, 177 + 30);
    area->addSubWindow(this);
    // The default place of a new window: cascaded below and right of the ones before it,
    // starting again at the top left when half the area is used up.
    const int step = 24;
    const int places = std::max(1, area->viewport()->height() / 2 / step);
    const int k = int(area->subWindowList().size() - 1) % places;
    move(k * step, k * step);
    show();
    formCreate(fileName, mainClientSize);
}

TMDIChild::~TMDIChild()
{
    if (m_bitmap.allocated)
        L_FreeBitmap(m_bitmap);
}

void TMDIChild::formCreate(const QString& fileName, QSize mainClientSize)
{
    const QFileInfo fi(fileName);
    if (!fi.exists() || fi.isDir())
        return;
    FileInfo info;
    info.StructSize = FILEINFO_SIZE;
    int result = L_FileInfo(fileName, info, FILEINFO_SIZE);
    if (result == ERROR_INV_STRUCT_SIZE) {
        info.StructSize = FILEINFO_SIZE_OLD;
        result = L_FileInfo(fileName, info, FILEINFO_SIZE_OLD);
    }
    if (result == SUCCESS)
        result = L_LoadFile(fileName, m_bitmap, &info);
    if (result != SUCCESS) {
        L_FreeBitmap(m_bitmap);
        return;
    }

    m_scanDocument = QSize(m_bitmap.width, m_bitmap.height);
    const QPoint pos = geometry().topLeft();
    const int clientH = childClientHeight(mainClientSize.height(), pos.y(), m_bitmap.height);
    const int clientW = childClientWidth(mainClientSize.width(), pos.x(), m_bitmap.width, true);
    // The frame around the client area: border and title bar.
    QMargins margins = contentsMargins();
    if (layout())
        margins += layout()->contentsMargins();
    const QSize frame(margins.left() + margins.right(), margins.top() + margins.bottom());
    resize(std::max(0, clientW) + frame.width(), std::max(0, clientH) + frame.height());
    m_view->setScrollRanges(m_bitmap.displayedWidth(), m_bitmap.displayedHeight());
    m_view->viewport()->update();
}

void TMDIChild::resizeEvent(QResizeEvent* event)
{
    QMdiSubWindow::resizeEvent(event);
    formResize();
}

void TMDIChild::formResize()
{
    // The window may be made smaller than its image, never larger than it plus 17 x 42.
    if (m_inResize || isMaximized() || isMinimized())
        return;
    m_inResize = true;
    if (m_scanDocument.width() > m_bitmap.width)
        m_scanDocument.setWidth(m_bitmap.width);
    if (m_scanDocument.width() + 17 < width())
        resize(m_scanDocument.width() + 17, height());
    if (m_scanDocument.height() > m_bitmap.height)
        m_scanDocument.setHeight(m_bitmap.height);
    if (m_scanDocument.height() + 42 < height())
        resize(width(), m_scanDocument.height() + 42);
    m_inResize = false;
}

} // namespace kelvo
