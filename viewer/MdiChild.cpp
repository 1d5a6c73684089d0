#include "viewer/MdiChild.h"

#include "imaging/ImageFile.h"

#include <QAction>
#include <QFileInfo>
#include <QLayout>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionTitleBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace kelvo {

namespace {

// A picture with transparency is shown on white, so the same pixel always shows the same
// colour whatever was on screen below it.
void flattenTransparency(Bitmap& bitmap)
{
    if (!bitmap.allocated || !bitmap.image.hasAlphaChannel())
        return;
    QImage flat(bitmap.image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    flat.setDotsPerMeterX(bitmap.image.dotsPerMeterX());
    flat.setDotsPerMeterY(bitmap.image.dotsPerMeterY());
    {
        QPainter p(&flat);
        p.drawImage(0, 0, bitmap.image);
    }
    const int orientation = bitmap.viewOrientation;
    bitmap = Bitmap::fromImage(std::move(flat), orientation);
}

} // namespace

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

double nextZoomStep(double zoom, bool up)
{
    // A small tolerance, so that a factor shown as a step counts as that step.
    if (up) {
        for (const double z : kZoomSteps)
            if (z > zoom * 1.001)
                return z;
        return std::max(zoom, std::cend(kZoomSteps)[-1]);
    }
    for (auto it = std::crbegin(kZoomSteps); it != std::crend(kZoomSteps); ++it)
        if (*it < zoom / 1.001)
            return *it;
    return std::min(zoom, kZoomSteps[0]);
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

QSize ImageView::zoomedDisplayedSize() const
{
    QSize size = zoomedImageSize();
    if (m_bitmap.swapsAxes())
        size.transpose();
    return size;
}

void ImageView::setCentred(bool on)
{
    m_centred = on;
    viewport()->update();
}

QPoint ImageView::origin() const
{
    if (!m_centred || !m_bitmap.allocated)
        return {};
    const QSize free = viewport()->size() - zoomedDisplayedSize();
    return QPoint(std::max(0, free.width() / 2), std::max(0, free.height() / 2));
}

QSize ImageView::zoomedImageSize() const
{
    if (m_zoom == 1.0)
        return QSize(m_bitmap.width, m_bitmap.height);
    return QSize(std::max(1, int(std::lround(m_bitmap.width * m_zoom))),
                 std::max(1, int(std::lround(m_bitmap.height * m_zoom))));
}

void ImageView::updateScrollBars()
{
    if (!m_rangesSet)
        return;
    QSize content = m_content;
    if (m_zoom != 1.0 && m_bitmap.allocated) {
        content = zoomedImageSize();
        if (m_bitmap.swapsAxes())
            content.transpose();
    }
    // Content that fits the window without scroll bars gets none, even when the bars that
    // are still shown make the viewport smaller.
    const QSize room = maximumViewportSize();
    const bool fits = content.width() <= room.width() && content.height() <= room.height();
    const QSize vp = fits ? content : viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, content.width() - vp.width()));
    horizontalScrollBar()->setPageStep(vp.width());
    verticalScrollBar()->setRange(0, std::max(0, content.height() - vp.height()));
    verticalScrollBar()->setPageStep(vp.height());
}

double ImageView::fitZoom() const
{
    if (!m_bitmap.allocated || m_bitmap.width <= 0 || m_bitmap.height <= 0)
        return 1.0;
    const QSize room = maximumViewportSize();
    const double z = std::min(double(room.width()) / m_bitmap.displayedWidth(),
                              double(room.height()) / m_bitmap.displayedHeight());
    return std::clamp(z, kZoomSteps[0], std::cend(kZoomSteps)[-1]);
}

void ImageView::setZoom(double zoom, std::optional<QPoint> anchor)
{
    if (!m_bitmap.allocated || !std::isfinite(zoom))
        return;
    zoom = std::clamp(zoom, kZoomSteps[0], std::cend(kZoomSteps)[-1]);
    if (std::abs(zoom - 1.0) < 1e-9)
        zoom = 1.0;
    const QPoint at = anchor.value_or(viewport()->rect().center());
    const QPointF imagePoint = (QPointF(horizontalScrollBar()->value(), verticalScrollBar()->value()) + at - origin()) / m_zoom;
    m_zoom = zoom;
    m_reduced.free();
    if (zoom < 1.0) {
        const QSize size = zoomedImageSize();
        m_reduced = Bitmap::fromImage(m_bitmap.image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation),
                                      m_bitmap.viewOrientation);
    }
    updateScrollBars();
    const QPoint o = origin();
    horizontalScrollBar()->setValue(int(std::lround(imagePoint.x() * zoom + o.x() - at.x())));
    verticalScrollBar()->setValue(int(std::lround(imagePoint.y() * zoom + o.y() - at.y())));
    viewport()->update();
    emit zoomChanged(zoom);
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

void ImageView::wheelEvent(QWheelEvent* event)
{
    if (!(event->modifiers() & Qt::ControlModifier)) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    // One notch (120) is one zoom step; fine-grained wheels add up to notches.
    m_wheelDelta += event->angleDelta().y();
    const QPoint at = event->position().toPoint();
    while (std::abs(m_wheelDelta) >= 120) {
        const bool up = m_wheelDelta > 0;
        m_wheelDelta += up ? -120 : 120;
        setZoom(nextZoomStep(m_zoom, up), at);
    }
    event->accept();
}

void ImageView::paintZoomed(QPainter& painter, const QRect& dest, const QRect& clip)
{
    // Above 1:1: only the source pixels under the exposed part are drawn, enlarged. Nearest
    // pixels above 200 % so single pixels can be seen, smooth up to that.
    painter.save();
    painter.setClipRect(clip);
    painter.translate(dest.topLeft());
    painter.scale(m_zoom, m_zoom);
    painter.setTransform(orientationTransform(m_bitmap.viewOrientation, m_bitmap.width, m_bitmap.height), true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_zoom <= 2.0);
    const QRect source = painter.transform()
                             .inverted()
                             .mapRect(QRectF(clip))
                             .toAlignedRect()
                             .adjusted(-1, -1, 1, 1)
                             .intersected(m_bitmap.image.rect());
    if (!source.isEmpty())
        painter.drawImage(source.topLeft(), m_bitmap.image, source);
    painter.restore();
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
    QSize shown(m_bitmap.displayedWidth(), m_bitmap.displayedHeight());
    if (m_zoom != 1.0) {
        shown = zoomedImageSize();
        if (m_bitmap.swapsAxes())
            shown.transpose();
    }
    const QRect dest(origin() - QPoint(h, v), shown);
    for (const QRect& r : event->region()) {
        if (m_zoom == 1.0)
            L_PaintDC(painter, m_bitmap, dest, r);
        else if (m_zoom < 1.0)
            L_PaintDC(painter, m_reduced, dest, r);
        else
            paintZoomed(painter, dest, r);
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
    m_view->setObjectName(QStringLiteral("ScanDocument"));
    // A screen reader names the picture and which file it shows.
    m_view->setAccessibleName(QStringLiteral("Bild"));
    m_view->setAccessibleDescription(fileName);
    setWidget(m_view);
    // Small enough for many windows, large enough that the caption, the icon and the three
    // buttons of the title bar stay readable even for an empty window.
    QStyleOptionTitleBar opt;
    opt.initFrom(this);
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, &opt, this);
    setMinimumSize(std::max(minimumSizeHint().width(), 4 * titleBar + fontMetrics().horizontalAdvance(QStringLiteral("NONAME10"))),
                   std::max(minimumSizeHint().height(), 2 * titleBar));
    resize(279 + 8, 177 + 30);
    area->addSubWindow(this);
    // The default place of a new window: cascaded below and right of the ones before it,
    // starting again at the top left when half the area is used up.
    const int step = 24;
    const int places = std::max(1, area->viewport()->height() / 2 / step);
    const int k = int(area->subWindowList().size() - 1) % places;
    move(k * step, k * step);
    createZoomActions();
    show();
    formCreate(fileName, mainClientSize);
    for (QAction* a : std::as_const(m_zoomActions))
        a->setEnabled(m_bitmap.allocated);
    // The status bar names the factor of the window that becomes active, unless it is 1:1.
    connect(this, &QMdiSubWindow::aboutToActivate, this, [this] {
        if (m_view->zoom() != 1.0)
            showZoom();
    });
    connect(m_view, &ImageView::zoomChanged, this, [this] {
        // The window follows the zoomed picture, larger or smaller, and may not outgrow it.
        // While the whole page is fitted, the window's size sets the zoom instead.
        m_scanDocument = m_view->zoomedDisplayedSize();
        if (!m_refitting) {
            m_fitted = false;
            sizeToPicture(this->mainClientSize());
        }
        formResize();
        showZoom();
    });
    area->viewport()->installEventFilter(this);
}

TMDIChild::~TMDIChild()
{
    if (m_bitmap.allocated)
        L_FreeBitmap(m_bitmap);
}

void TMDIChild::createZoomActions()
{
    const struct {
        const char* name;
        const char* text;
        const char* hint;
        QList<QKeySequence> keys;
        void (TMDIChild::*run)();
    } commands[] = {
        {"ZoomOriginal", "Originalgröße", "Bild in Originalgröße zeigen (1:1)", {QKeySequence(Qt::CTRL | Qt::Key_0)},
         &TMDIChild::zoomOriginal},
        {"ZoomWholePage", "Ganze Seite", "Ganzes Bild im Fenster zeigen", {QKeySequence(Qt::CTRL | Qt::Key_9)},
         &TMDIChild::zoomWholePage},
        {"ZoomIn", "Vergrößern", "Bild vergrößern",
         {QKeySequence(Qt::CTRL | Qt::Key_Plus), QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Plus)},
         &TMDIChild::zoomIn},
        {"ZoomOut", "Verkleinern", "Bild verkleinern",
         {QKeySequence(Qt::CTRL | Qt::Key_Minus), QKeySequence(Qt::ControlModifier | Qt::KeypadModifier | Qt::Key_Minus)},
         &TMDIChild::zoomOut},
    };
    for (const auto& c : commands) {
        auto* a = new QAction(QString::fromUtf8(c.text), this);
        a->setObjectName(QLatin1String(c.name));
        a->setStatusTip(QString::fromUtf8(c.hint));
        a->setShortcuts(c.keys);
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(a, &QAction::triggered, this, c.run);
        m_zoomActions << a;
    }
    addActions(m_zoomActions);
    m_view->addActions(m_zoomActions);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    // Shift+F10 opens the context menu from the keyboard, as on Windows (the menu key does
    // already), at the middle of the picture's area.
    m_contextMenu = new QMenu(this);
    m_contextMenu->setObjectName(QStringLiteral("ContextMenu"));
    m_contextMenu->addActions(m_zoomActions);
    auto* menuKey = new QAction(this);
    menuKey->setObjectName(QStringLiteral("ContextMenuKey"));
    menuKey->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    menuKey->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(menuKey, &QAction::triggered, this, [this] {
        m_contextMenu->popup(m_view->viewport()->mapToGlobal(m_view->viewport()->rect().center()));
    });
    addAction(menuKey);
    // Ctrl+F4 and Ctrl+W close the window, as on Windows. The window's own Close entry has
    // the platform's close keys; whichever of the two it lacks is added here.
    QList<QKeySequence> closeKeys;
    const QList<QKeySequence> own = QKeySequence::keyBindings(QKeySequence::Close);
    for (const QKeySequence& key : {QKeySequence(Qt::CTRL | Qt::Key_F4), QKeySequence(Qt::CTRL | Qt::Key_W)})
        if (!own.contains(key))
            closeKeys << key;
    if (!closeKeys.isEmpty()) {
        auto* close = new QAction(this);
        close->setObjectName(QStringLiteral("CloseWindow"));
        close->setShortcuts(closeKeys);
        close->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        connect(close, &QAction::triggered, this, &QWidget::close);
        addAction(close);
    }
    // The system menu offers them above its Close entry.
    if (QMenu* menu = systemMenu()) {
        const QList<QAction*> entries = menu->actions();
        QAction* before = entries.isEmpty() ? nullptr : entries.last();
        menu->insertActions(before, m_zoomActions);
        menu->insertSeparator(before);
    }
}

QAction* TMDIChild::zoomAction(const QString& name) const
{
    for (QAction* a : m_zoomActions)
        if (a->objectName() == name)
            return a;
    return nullptr;
}

void TMDIChild::zoomIn() { zoomTo(nextZoomStep(m_view->zoom(), true)); }
void TMDIChild::zoomOut() { zoomTo(nextZoomStep(m_view->zoom(), false)); }
void TMDIChild::zoomOriginal() { zoomTo(1.0); }
void TMDIChild::zoomWholePage()
{
    if (!m_bitmap.allocated)
        return;
    m_fitted = true;
    refit();
}

void TMDIChild::zoomTo(double zoom)
{
    m_view->setZoom(zoom);
}

void TMDIChild::refit()
{
    m_refitting = true;
    const double fit = m_view->fitZoom();
    if (std::abs(fit - m_view->zoom()) > 1e-9)
        m_view->setZoom(fit);
    m_refitting = false;
}

QSize TMDIChild::mainClientSize() const
{
    // The main window's client size below its menu bar, as the window was sized at creation.
    if (const auto* main = qobject_cast<const QMainWindow*>(window())) {
        const QWidget* bar = main->menuWidget();
        return QSize(main->width(), main->height() - (bar && bar->isVisible() ? bar->height() : 0));
    }
    return mdiArea() ? mdiArea()->viewport()->size() : size();
}

void TMDIChild::sizeToPicture(QSize mainClientSize)
{
    if (!m_bitmap.allocated || isMaximized() || isMinimized())
        return;
    const QSize shown = m_view->zoomedDisplayedSize();
    const QPoint pos = geometry().topLeft();
    const int clientH = childClientHeight(mainClientSize.height(), pos.y(), shown.height());
    const int clientW = childClientWidth(mainClientSize.width(), pos.x(), shown.width(), true);
    // The frame around the client area: border and title bar.
    QMargins margins = contentsMargins();
    if (layout())
        margins += layout()->contentsMargins();
    QSize outer(std::max(0, clientW) + margins.left() + margins.right(),
                std::max(0, clientH) + margins.top() + margins.bottom());
    if (mdiArea())
        outer = outer.boundedTo(mdiArea()->viewport()->size() - QSize(pos.x(), pos.y()));
    resize(outer);
}

void TMDIChild::changeEvent(QEvent* event)
{
    QMdiSubWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        m_view->setCentred(isMaximized());
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* event)
{
    // A fitted page stays whole when the main window shrinks below it.
    if (m_fitted && event->type() == QEvent::Resize && mdiArea() && watched == mdiArea()->viewport()
        && !isMaximized() && !isMinimized()) {
        const QSize room = mdiArea()->viewport()->size() - QSize(x(), y());
        if (width() > room.width() || height() > room.height())
            resize(size().boundedTo(room).expandedTo(minimumSize()));
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

void TMDIChild::showZoom() const
{
    auto* main = qobject_cast<QMainWindow*>(window());
    if (!main)
        return;
    const double percent = m_view->zoom() * 100;
    QLocale german(QLocale::German);
    german.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = german.toString(percent, 'f', percent >= 100 ? 0 : 1);
    if (text.endsWith(QLatin1String(",0")))
        text.chop(2);
    main->statusBar()->showMessage(QStringLiteral("Zoom: %1 %").arg(text));
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
    flattenTransparency(m_bitmap);

    // Sized by the picture as shown: a JPEG turned by its EXIF orientation gets a window of
    // the turned picture's size.
    m_scanDocument = QSize(m_bitmap.displayedWidth(), m_bitmap.displayedHeight());
    sizeToPicture(mainClientSize);
    m_view->setScrollRanges(m_bitmap.displayedWidth(), m_bitmap.displayedHeight());
    m_view->viewport()->update();
}

void TMDIChild::resizeEvent(QResizeEvent* event)
{
    QMdiSubWindow::resizeEvent(event);
    if (m_fitted && !m_inResize)
        refit();
    formResize();
}

void TMDIChild::formResize()
{
    // The window may be made smaller than its (zoomed) image, never larger than it plus
    // 17 x 42; its minimum size still applies.
    if (m_inResize || isMaximized() || isMinimized())
        return;
    m_inResize = true;
    const QSize image = m_bitmap.allocated ? m_view->zoomedDisplayedSize() : QSize(0, 0);
    if (m_scanDocument.width() > image.width())
        m_scanDocument.setWidth(image.width());
    if (m_scanDocument.width() + 17 < width())
        resize(m_scanDocument.width() + 17, height());
    if (m_scanDocument.height() > image.height())
        m_scanDocument.setHeight(image.height());
    if (m_scanDocument.height() + 42 < height())
        resize(width(), m_scanDocument.height() + 42);
    m_inResize = false;
}

} // namespace kelvo
