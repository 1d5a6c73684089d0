#include "app/MainWindow.h"

#include "app/AboutBox.h"
#include "app/CommandLine.h"
#include "app/Glyphs.h"
#include "app/MessageBox.h"
#include "platform/Display.h"
#include "platform/Termination.h"
#include "viewer/MdiChild.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace kelvo {

namespace {
const QString kTitle = QStringLiteral("Kelvo-Scan-Modul");

// Qt reads "[*]" in a window title as the place of its modified mark; doubled, it is shown
// as it is. The window list shows the caption without the doubling.
QString titleOf(const QString& caption)
{
    return QString(caption).replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}
QString captionOf(const QString& title)
{
    return QString(title).replace(QLatin1String("[*][*]"), QLatin1String("[*]"));
}
} // namespace

// One line that fits whatever room the status bar leaves: a file name too long for it loses
// its middle, so the folder's start and the file's name both stay readable. The whole text
// is the tool tip and the accessible name's description.
class SummaryLabel final : public QLabel {
public:
    explicit SummaryLabel(QWidget* parent) : QLabel(parent)
    {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        setMinimumWidth(1);
    }
    void setText(const QString& text)
    {
        m_full = text;
        setToolTip(text);
        setAccessibleDescription(text);
        elide();
    }
    void clear()
    {
        m_full.clear();
        setToolTip(QString());
        setAccessibleDescription(QString());
        QLabel::clear();
    }
    QString fullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent* event) override
    {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide()
    {
        // "N Seiten gespeichert – " stays whole; the path after the dash gives way.
        const qsizetype dash = m_full.indexOf(QStringLiteral(" – "));
        const QString head = dash < 0 ? QString() : m_full.left(dash + 3);
        const QString tail = dash < 0 ? m_full : m_full.mid(dash + 3);
        const int room = std::max(0, contentsRect().width() - fontMetrics().horizontalAdvance(head));
        QLabel::setText(head + fontMetrics().elidedText(tail, Qt::ElideMiddle, room));
    }
    QString m_full;
};

QString TKelvoScan::summaryText() const
{
    return m_summary ? m_summary->fullText() : QString();
}

TKelvoScan::TKelvoScan(const QStringList& argv, const QLocale& locale, Services services,
                       SessionState& session, TKelvoScan** instance)
    : m_session(session), m_services(std::move(services)), m_instance(instance)
{
    if (m_instance)
        *m_instance = this;
    setObjectName(QStringLiteral("KelvoScan"));
    setWindowTitle(kTitle);
    // Every window of the program carries its icon: image windows take it when they are
    // made, dialogs from the application.
    QIcon icon;
    for (const int size : {16, 32, 64})
        icon.addPixmap(programIcon(size));
    QApplication::setWindowIcon(icon);
    setWindowIcon(icon);

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName(QStringLiteral("MDIClient"));
    m_mdi->setAccessibleName(QStringLiteral("Bildfenster"));
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    m_mdi->viewport()->installEventFilter(this);

    m_befehlszeile = new QLabel(m_mdi->viewport());
    m_befehlszeile->setObjectName(QStringLiteral("Befehlszeile"));
    m_befehlszeile->move(8, 6); // 8, 36 in the window, below the 30-pixel tool bar
    m_befehlszeile->lower();

    // Where to start, while no image window is open; the menus stay as they are.
    m_startHint = new QLabel(QStringLiteral("Datei > Öffnen zeigt ein Bild, Datei > Scannen scannt"), m_mdi->viewport());
    m_startHint->setObjectName(QStringLiteral("StartHint"));
    m_startHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    QPalette quiet = m_startHint->palette();
    quiet.setColor(QPalette::WindowText, m_mdi->background().color().darker(230));
    m_startHint->setPalette(quiet);
    m_startHint->lower();

    // An unattended run scans inside this constructor and ends without ever showing the
    // window: it does without menus, tool bar and status bar, whose fonts and icons cost
    // more start-up time than the scanner needs to begin.
    const CommandLineResult commandLine = parseCommandLine(argv.mid(1), locale);
    if (!(commandLine.completed() && commandLine.settings.ExitAfterRun))
        ensureChrome();

    m_scan = std::make_unique<ScanSession>(m_settings, m_session, *m_services.twain, *this,
                                           *m_services.launcher, *m_services.notifier,
                                           m_services.handOffDirectory);
    if (m_services.terminationFd >= 0) {
        // Heard in every event loop, the scanner's and a message box's included.
        auto* notifier = new QSocketNotifier(m_services.terminationFd, QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            drainTerminationRequests(m_services.terminationFd);
            terminate();
        });
    }
    formCreate(argv, commandLine);
}

TKelvoScan::~TKelvoScan()
{
    if (m_instance)
        *m_instance = nullptr;
    // The image windows close after this body, when our own members are gone already.
    m_mdi->viewport()->removeEventFilter(this);
    m_mdi->disconnect(this);
    for (QMdiSubWindow* w : m_mdi->subWindowList())
        w->disconnect(this);
}

void TKelvoScan::ensureChrome()
{
    if (m_chrome)
        return;
    m_chrome = true;
    m_startHint->adjustSize();
    m_befehlszeile->adjustSize();
    createActions();
    createMenus();
    createToolBar();
    statusBar()->setObjectName(QStringLiteral("StatusBar"));
    statusBar()->setAccessibleName(QStringLiteral("Statusleiste"));
    statusBar()->setSizeGripEnabled(true);
    createScanProgressArea();
    connect(m_mdi, &QMdiArea::subWindowActivated, this, [this] { updateActions(); });
    updateActions();
    placeStartHint();
    // The design size, but never larger than the screen's free area (a scaled screen of
    // 1600 x 1000 at factor 2 has 800 x 500): the status bar with Abbrechen stays on it.
    const QSize design(900, 680);
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    resize(s ? design.boundedTo(s->availableGeometry().size()) : design);
    m_placedSize = size();
}

void TKelvoScan::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_placedSize.isEmpty())
        return;
    // Once the window manager has added its frame: the frame too fits the free area, unless
    // someone chose a size meanwhile.
    QTimer::singleShot(0, this, [this] {
        if (size() != m_placedSize || isMaximized() || isFullScreen() || !screen())
            return;
        m_placedSize = QSize();
        const QRect free = screen()->availableGeometry();
        const QSize frame = frameGeometry().size() - geometry().size();
        const QSize fitting = size().boundedTo(free.size() - frame);
        if (fitting != size())
            resize(fitting);
        QRect outer = frameGeometry();
        if (!free.contains(outer)) {
            outer.moveLeft(std::clamp(outer.left(), free.left(), std::max(free.left(), free.right() - outer.width() + 1)));
            outer.moveTop(std::clamp(outer.top(), free.top(), std::max(free.top(), free.bottom() - outer.height() + 1)));
            move(outer.topLeft());
        }
    });
}

void TKelvoScan::setVisible(bool visible)
{
    if (visible)
        ensureChrome();
    QMainWindow::setVisible(visible);
}

QAction* TKelvoScan::makeAction(const char* name, const QString& caption, const QString& hint,
                                int glyph, const QKeySequence& shortcut)
{
    auto* a = new QAction(caption, this);
    a->setObjectName(QLatin1String(name));
    // A hint is "short|long": the short part is the tool tip, the long part the status text.
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    a->setToolTip(bar < 0 ? hint : hint.left(bar));
    a->setStatusTip(bar < 0 ? hint : hint.mid(bar + 1));
    if (glyph >= 0)
        a->setIcon(glyphIcon(glyph));
    if (!shortcut.isEmpty()) {
        a->setShortcut(shortcut);
        a->setShortcutContext(Qt::WindowShortcut);
    }
    addAction(a); // shortcuts work even where no menu entry or button shows the action
    m_actions.insert(QLatin1String(name), a);
    return a;
}

void TKelvoScan::createActions()
{
    auto* fileNew = makeAction("FileNew1", QStringLiteral("&Neu"), QStringLiteral("Neu|Neue Datei erstellen"),
                               GlyphNew, QKeySequence(Qt::CTRL | Qt::Key_N));
    auto* fileOpen = makeAction("FileOpen1", QStringLiteral("Ö&ffnen"), QStringLiteral("Öffnen|Datei öffnen"),
                                GlyphOpen, QKeySequence(Qt::CTRL | Qt::Key_O));
    auto* fileClose = makeAction("FileClose1", QStringLiteral("&Schließen"),
                                 QStringLiteral("Schließen|Aktuelle Datei schließen"), -1);
    auto* fileSave = makeAction("FileSave1", QStringLiteral("&Speichern"),
                                QStringLiteral("Speichern|Aktuelle Datei speichern"), GlyphSave,
                                QKeySequence(Qt::CTRL | Qt::Key_S));
    auto* fileSaveAs = makeAction("FileSaveAs1", QStringLiteral("Speichern &unter..."),
                                  QStringLiteral("Speichern unter|Datei unter einem anderen Namen speichern"), -1);
    auto* fileExit = makeAction("FileExit1", QStringLiteral("&Beenden"), QStringLiteral("Beenden|Programm beenden"), -1);
    auto* cut = makeAction("EditCut1", QStringLiteral("&Ausschneiden"),
                           QStringLiteral("Ausschneiden|Markiertes Objekt in die Zwischenablage verschieben"),
                           GlyphCut, QKeySequence(Qt::CTRL | Qt::Key_X));
    auto* copy = makeAction("EditCopy1", QStringLiteral("&Kopieren"),
                            QStringLiteral("Kopieren|Markiertes Objekt in die Zwischenablage kopieren"),
                            GlyphCopy, QKeySequence(Qt::CTRL | Qt::Key_C));
    auto* paste = makeAction("EditPaste1", QStringLiteral("&Einfügen"),
                             QStringLiteral("Einfügen|Inhalt der Zwischenablage einfügen"), GlyphPaste,
                             QKeySequence(Qt::CTRL | Qt::Key_V));
    auto* cascade = makeAction("WindowCascade1", QStringLiteral("Ü&berlappend"), QStringLiteral("Überlappend"), GlyphCascade);
    auto* tileH = makeAction("WindowTileHorizontal1", QStringLiteral("Hori&zontal anordnen"),
                             QStringLiteral("Horizontal anordnen"), GlyphTileHorizontal);
    auto* tileV = makeAction("WindowTileVertical1", QStringLiteral("&Vertikal anordnen"),
                             QStringLiteral("Vertikal anordnen"), GlyphTileVertical);
    auto* minAll = makeAction("WindowMinimizeAll1", QStringLiteral("&Alle verkleinern"), QStringLiteral("Alle verkleinern"), -1);
    auto* arrange = makeAction("WindowArrangeAll1", QStringLiteral("Alle an&ordnen"), QStringLiteral("Alle anordnen"), -1);
    // The pile of page windows of a long scan goes in one step; Ctrl+F6 steps through the
    // windows as on Windows, beside Qt's Ctrl+Tab.
    auto* closeAll = makeAction("WindowCloseAll1", QStringLiteral("Alle &schließen"),
                                QStringLiteral("Alle schließen|Alle Bildfenster schließen"), -1);
    auto* next = makeAction("WindowNext1", QStringLiteral("&Nächstes Fenster"),
                            QStringLiteral("Nächstes Fenster|Zum nächsten Bildfenster wechseln"), -1,
                            QKeySequence(Qt::CTRL | Qt::Key_F6));
    auto* about = makeAction("HelpAbout1", QStringLiteral("&Info..."),
                             QStringLiteral("Info|Anzeige von Programminformationen, Versionsnummer und Copyright-Vermerk"), -1);
    auto* scan = makeAction("FileScan1", QStringLiteral("S&cannen"), QString(), -1);
    scan->setToolTip(QString());
    scan->setStatusTip(QString());

    connect(fileNew, &QAction::triggered, this, &TKelvoScan::FileNew1Execute);
    connect(fileOpen, &QAction::triggered, this, &TKelvoScan::FileOpen1Execute);
    connect(fileClose, &QAction::triggered, m_mdi, &QMdiArea::closeActiveSubWindow);
    connect(fileExit, &QAction::triggered, this, &TKelvoScan::FileExit1Execute);
    connect(cascade, &QAction::triggered, m_mdi, &QMdiArea::cascadeSubWindows);
    connect(tileH, &QAction::triggered, this, [this] { tile(Qt::Vertical); });
    connect(tileV, &QAction::triggered, this, [this] { tile(Qt::Horizontal); });
    connect(minAll, &QAction::triggered, this, &TKelvoScan::minimizeAll);
    connect(arrange, &QAction::triggered, this, &TKelvoScan::arrangeIcons);
    connect(closeAll, &QAction::triggered, m_mdi, &QMdiArea::closeAllSubWindows);
    connect(next, &QAction::triggered, m_mdi, &QMdiArea::activateNextSubWindow);
    connect(about, &QAction::triggered, this, &TKelvoScan::HelpAbout1Execute);
    connect(scan, &QAction::triggered, this, &TKelvoScan::FileScan1Execute);

    // No handler, no target: save and the edit actions stay disabled.
    for (QAction* a : {fileSave, fileSaveAs, cut, copy, paste})
        a->setEnabled(false);
}

void TKelvoScan::createMenus()
{
    const auto item = [](QMenu* menu, const char* name, QAction* action, bool visible = true) {
        if (visible) {
            menu->addAction(action);
            return;
        }
        // A hidden entry: the action stays usable through its shortcut.
        auto* hidden = menu->addAction(action->text());
        hidden->setObjectName(QLatin1String(name));
        hidden->setVisible(false);
    };
    menuBar()->setObjectName(QStringLiteral("HauptMenu"));
    menuBar()->setAccessibleName(QStringLiteral("Menüleiste"));
    // The menu titles' hints go to the status bar while a title is highlighted.
    connect(menuBar(), &QMenuBar::hovered, this, [this](QAction* a) {
        if (a && a->menu())
            statusBar()->showMessage(a->statusTip());
    });
    menuBar()->installEventFilter(this);
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Datei"));
    file->setObjectName(QStringLiteral("File1"));
    file->menuAction()->setStatusTip(QStringLiteral("Dateibefehle"));
    item(file, "FileNewItem", action(QStringLiteral("FileNew1")), false);
    item(file, "FileOpenItem", action(QStringLiteral("FileOpen1")));
    item(file, "FileScanItem", action(QStringLiteral("FileScan1")));
    item(file, "FileCloseItem", action(QStringLiteral("FileClose1")));
    item(file, "FileSaveItem", action(QStringLiteral("FileSave1")), false);
    item(file, "FileSaveAsItem", action(QStringLiteral("FileSaveAs1")), false);
    file->addSeparator()->setObjectName(QStringLiteral("N1"));
    item(file, "FileExitItem", action(QStringLiteral("FileExit1")));

    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Bearbeiten"));
    edit->setObjectName(QStringLiteral("Edit1"));
    edit->menuAction()->setStatusTip(QStringLiteral("Anweisungen zur Bearbeitung"));
    item(edit, "CutItem", action(QStringLiteral("EditCut1")));
    item(edit, "CopyItem", action(QStringLiteral("EditCopy1")));
    item(edit, "PasteItem", action(QStringLiteral("EditPaste1")));

    m_windowMenu = menuBar()->addMenu(QStringLiteral("&Fenster"));
    m_windowMenu->setObjectName(QStringLiteral("Window1"));
    m_windowMenu->menuAction()->setStatusTip(QStringLiteral("Fensterbezogene Anweisungen"));
    item(m_windowMenu, "WindowCascadeItem", action(QStringLiteral("WindowCascade1")));
    item(m_windowMenu, "WindowTileItem", action(QStringLiteral("WindowTileHorizontal1")));
    item(m_windowMenu, "WindowTileItem2", action(QStringLiteral("WindowTileVertical1")));
    item(m_windowMenu, "WindowMinimizeItem", action(QStringLiteral("WindowMinimizeAll1")));
    item(m_windowMenu, "WindowArrangeItem", action(QStringLiteral("WindowArrangeAll1")));
    item(m_windowMenu, "WindowCloseAllItem", action(QStringLiteral("WindowCloseAll1")));
    connect(m_windowMenu, &QMenu::aboutToShow, this, &TKelvoScan::rebuildWindowMenu);

    QMenu* help = menuBar()->addMenu(QStringLiteral("&Hilfe"));
    help->setObjectName(QStringLiteral("Help1"));
    help->menuAction()->setStatusTip(QStringLiteral("Hilfethemen"));
    item(help, "HelpAboutItem", action(QStringLiteral("HelpAbout1")));

    // Qt shows no hint for a disabled entry; the mouse over one shows its hint all the same.
    for (QMenu* menu : {file, edit, m_windowMenu, help})
        menu->installEventFilter(this);
}

void TKelvoScan::createToolBar()
{
    m_toolBar = addToolBar(QStringLiteral("Symbolleiste"));
    m_toolBar->setObjectName(QStringLiteral("ToolBar"));
    m_toolBar->setAccessibleName(QStringLiteral("Symbolleiste"));
    m_toolBar->setMovable(false);
    m_toolBar->setFloatable(false);
    m_toolBar->setIconSize(QSize(16, 16));
    m_toolBar->setFixedHeight(30);
    m_toolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    const auto button = [this](const char* name, const QString& actionName) {
        m_toolBar->addAction(action(actionName));
        m_toolBar->widgetForAction(action(actionName))->setObjectName(QLatin1String(name));
    };
    // Hidden buttons (New, Save) take no room and are left out.
    button("ToolbarOeffnen", QStringLiteral("FileOpen1"));
    m_toolBar->addSeparator();
    button("ToolButton4", QStringLiteral("EditCut1"));
    button("ToolButton5", QStringLiteral("EditCopy1"));
    button("ToolButton6", QStringLiteral("EditPaste1"));
    m_toolBar->addSeparator();
    button("ToolbarUeberl", QStringLiteral("WindowCascade1"));
    button("ToolbarHoriz", QStringLiteral("WindowTileHorizontal1"));
    button("ToolbarVert", QStringLiteral("WindowTileVertical1"));

    // The Scan button carries its own glyph (the action has none) and its own tool tip.
    QAction* scan = action(QStringLiteral("FileScan1"));
    auto* scanButton = new QToolButton(m_toolBar);
    scanButton->setObjectName(QStringLiteral("ToolbarScan"));
    scanButton->setIcon(glyphIcon(GlyphScanner));
    scanButton->setAutoRaise(true);
    scanButton->setToolTip(QStringLiteral("Scannen"));
    scanButton->setAccessibleName(QStringLiteral("Scannen"));
    connect(scanButton, &QToolButton::clicked, scan, &QAction::trigger);
    connect(scan, &QAction::changed, scanButton, [scanButton, scan] { scanButton->setEnabled(scan->isEnabled()); });
    m_toolBar->addWidget(scanButton);
    // Qt's button for buttons that do not fit; hidden while all fit, but listed to a screen
    // reader all the same.
    if (auto* more = m_toolBar->findChild<QToolButton*>(QStringLiteral("qt_toolbar_ext_button")))
        more->setAccessibleName(QStringLiteral("Weitere Schaltflächen"));
}

// ---------------------------------------------------------------------------------------
// Start-up: the command line, and the first paint in view mode.

void TKelvoScan::formCreate(const QStringList& argv, const CommandLineResult& r)
{
    m_befehlszeile->setText(displayCommandLine(argv));
    if (m_chrome)
        m_befehlszeile->adjustSize();

    m_settings = r.settings;
    m_session.FirstPageFile.clear();
    m_session.LastPageFile.clear();
    if (r.pageCounter)
        m_session.PageCounter = *r.pageCounter;
    for (const QString& refused : r.refused)
        showMessageBox(this, refused, QStringLiteral("Parameter"), MB_OK);
    // An unattended scan that will not run still answers its caller.
    if (m_settings.RunMode == 'S' && m_settings.ExitAfterRun && (!r.completed() || r.targetRefused))
        m_scan->handOffNothingStored();
    if (!r.completed()) {
        showErrorBox(this, r.conversionError, kTitle);
        // Without a display nobody could ever close the window.
        if (!hasDisplay())
            m_terminate = true;
        return;
    }

    const auto unsupported = [this] {
        if (m_settings.RunMode == 'A')
            showMessageBox(this, QStringLiteral("-A (Audio) wird noch nicht unterstützt!"), QStringLiteral("Parameter"), MB_OK);
        else if (m_settings.RunMode == 'C')
            showMessageBox(this, QStringLiteral("-C (Clipboard/Grabber) wird noch nicht unterstützt!"),
                           QStringLiteral("Parameter"), MB_OK);
    };
    if (m_settings.ExitAfterRun) {
        if (m_settings.RunMode == 'A' || m_settings.RunMode == 'C') {
            unsupported();
            setWindowState(Qt::WindowMinimized);
        } else if (m_settings.RunMode == 'S' && !r.targetRefused) {
            // A refused target name must not send the pages anywhere else.
            setWindowState(Qt::WindowMinimized);
            FileScan1Execute();
        }
        m_terminate = true;
        return;
    }
    unsupported();
    // Nobody could read the window or close it: the message said why the run ends, as it
    // does for an unattended run.
    if (!hasDisplay() && (m_settings.RunMode == 'A' || m_settings.RunMode == 'C'))
        m_terminate = true;
}

QString TKelvoScan::endingWithoutDisplay() const
{
    if (hasDisplay() || m_terminate)
        return {};
    const QString why = QStringLiteral("Keine Anzeige (%1): ").arg(displayProblem());
    if (m_settings.RunMode == 'S')
        return why + QStringLiteral("-S ohne /X wartet auf einen Klick auf Scannen, das Programm endet; unbeaufsichtigt scannt -S /X.");
    if (m_settings.TargetFileName.isEmpty())
        return why + QStringLiteral("ohne Fenster gibt es nichts anzuzeigen, das Programm endet.");
    return why + QStringLiteral("„%1“ kann nicht angezeigt werden, das Programm endet.").arg(m_settings.TargetFileName);
}

void TKelvoScan::formPaint()
{
    if (m_settings.RunMode != 'V')
        return;
    m_settings.RunMode = ' ';
    const QString target = m_settings.TargetFileName;
    if (target.isEmpty())
        return;
    // Not from inside the paint itself: opening a window paints again.
    QTimer::singleShot(0, this, [this, target] {
        // Only regular files: a pipe or device would block the reading, or never end.
        const QFileInfo fi(target);
        if (fi.isFile())
            OpenChildWindow(target);
        else
            showMessageBox(this, QStringLiteral("Datei '%1' existiert nicht!").arg(target), QStringLiteral("Fehler"), MB_OK);
    });
}

bool TKelvoScan::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_mdi->viewport() && event->type() == QEvent::Paint)
        formPaint();
    if (watched == m_mdi->viewport() && event->type() == QEvent::Resize)
        placeStartHint();
    if (event->type() == QEvent::MouseMove) {
        if (auto* menu = qobject_cast<QMenu*>(watched)) {
            const QAction* a = menu->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
            if (a && !a->isEnabled() && !a->isSeparator())
                statusBar()->showMessage(a->statusTip());
        }
    }
    // menuWidget(), not menuBar(): asking for the bar would make one.
    if (watched == menuWidget() && event->type() == QEvent::MouseMove) {
        const QAction* a = menuBar()->actionAt(static_cast<QMouseEvent*>(event)->position().toPoint());
        if (a && a->menu())
            statusBar()->showMessage(a->statusTip());
    }
    return QMainWindow::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------
// Image windows.

QSize TKelvoScan::clientSizeForChildren() const
{
    const QWidget* bar = menuWidget();
    const int menu = bar && bar->isVisible() ? bar->height() : 0;
    return QSize(width(), height() - menu);
}

void TKelvoScan::OpenChildWindow(const QString& fileName)
{
    m_pendingChildFile = fileName;
    auto* child = new TMDIChild(m_mdi, m_pendingChildFile, clientSizeForChildren());
    child->setWindowIcon(windowIcon());
    child->setWindowTitle(titleOf(fileName));
    connect(child, &QObject::destroyed, this, [this] { QTimer::singleShot(0, this, [this] { updateActions(); }); });
    updateActions();
}

QList<QMdiSubWindow*> TKelvoScan::childWindows() const
{
    return m_mdi->subWindowList(QMdiArea::CreationOrder);
}

void TKelvoScan::FileNew1Execute()
{
    clearSummary();
    OpenChildWindow(QStringLiteral("NONAME%1").arg(childWindows().size() + 1));
}

void TKelvoScan::FileOpen1Execute()
{
    clearSummary();
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile); // a typed name need not exist
    dialog.setNameFilter(QStringLiteral("Alle Dateien (*.*)"));
    // "*.*" means every file here, also a name without a dot.
    if (auto* model = dialog.findChild<QFileSystemModel*>())
        model->setNameFilters({QStringLiteral("*")});
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    OpenChildWindow(dialog.selectedFiles().constFirst());
}

void TKelvoScan::HelpAbout1Execute()
{
    if (m_aboutBox)
        m_aboutBox->exec();
}

void TKelvoScan::FileExit1Execute()
{
    close();
}

void TKelvoScan::FileScan1Execute()
{
    QAction* scan = action(QStringLiteral("FileScan1")); // none in an unattended run
    if (scan)
        scan->setEnabled(false); // no second session while one runs
    clearSummary();
    m_scan->FileScan1Execute();
    if (scan)
        scan->setEnabled(true);
    if (m_quitAfterScan)
        quitSoon();
}

void TKelvoScan::quitSoon()
{
    m_terminate = true;
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
}

void TKelvoScan::stopScanThenQuit()
{
    m_quitAfterScan = true;
    m_scan->stop();
}

void TKelvoScan::terminate()
{
    setAnswerMessagesOnStderr(true);
    // Open dialogs end as if cancelled (a question as No), so the scan can run to its end.
    for (int guard = 0; guard < 16; ++guard) {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!dialog)
            break;
        dialog->reject();
    }
    if (m_scan->running())
        stopScanThenQuit();
    else
        quitSoon();
}

void TKelvoScan::salvageScan()
{
    m_scan->salvage();
}

void TKelvoScan::closeEvent(QCloseEvent* event)
{
    if (!m_scan->running()) {
        QMainWindow::closeEvent(event);
        return;
    }
    event->ignore();
    if (m_quitAfterScan)
        return;
    if (showMessageBox(this, QStringLiteral("Der Scan läuft noch. Abbrechen und beenden?"), kTitle, MB_YESNO) == IDYES
        && m_scan->running())
        stopScanThenQuit();
}

void TKelvoScan::updateActions()
{
    if (!m_chrome)
        return;
    const bool any = !childWindows().isEmpty();
    for (const char* name : {"WindowCascade1", "WindowTileHorizontal1", "WindowTileVertical1",
                             "WindowMinimizeAll1", "WindowArrangeAll1", "WindowCloseAll1", "WindowNext1"})
        action(QLatin1String(name))->setEnabled(any);
    action(QStringLiteral("FileClose1"))->setEnabled(m_mdi->activeSubWindow() != nullptr || (any && m_mdi->currentSubWindow()));
    m_startHint->setVisible(!any);
    rebuildWindowMenu();
}

void TKelvoScan::placeStartHint()
{
    const QSize area = m_mdi->viewport()->size();
    m_startHint->move((area.width() - m_startHint->width()) / 2, (area.height() - m_startHint->height()) / 2);
}

void TKelvoScan::rebuildWindowMenu()
{
    for (QAction* a : std::as_const(m_windowListActions)) {
        m_windowMenu->removeAction(a);
        a->deleteLater();
    }
    m_windowListActions.clear();
    const QList<QMdiSubWindow*> windows = childWindows();
    if (windows.isEmpty())
        return;
    m_windowListActions << m_windowMenu->addSeparator();
    int number = 0;
    for (QMdiSubWindow* w : windows) {
        // Numbered as on Windows; the first nine numbers are access keys.
        ++number;
        const QString caption = captionOf(w->windowTitle()).replace(QLatin1Char('&'), QLatin1String("&&"));
        const QString prefix = number <= 9 ? QStringLiteral("&%1 ").arg(number) : QStringLiteral("%1 ").arg(number);
        auto* a = m_windowMenu->addAction(prefix + caption);
        a->setCheckable(true);
        a->setChecked(w == m_mdi->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, w] {
            if (childWindows().contains(w)) {
                if (w->isMinimized())
                    w->showNormal();
                m_mdi->setActiveSubWindow(w);
            }
        });
        m_windowListActions << a;
    }
}

void TKelvoScan::tile(Qt::Orientation stacking)
{
    // Horizontal: one above the other, full width; vertical: side by side, full height.
    QList<QMdiSubWindow*> windows;
    for (QMdiSubWindow* w : childWindows())
        if (!w->isMinimized())
            windows << w;
    if (windows.isEmpty())
        return;
    const QSize area = m_mdi->viewport()->size();
    const int n = int(windows.size());
    for (int i = 0; i < n; ++i) {
        windows[i]->showNormal();
        if (stacking == Qt::Vertical)
            windows[i]->setGeometry(0, i * (area.height() / n), area.width(), area.height() / n);
        else
            windows[i]->setGeometry(i * (area.width() / n), 0, area.width() / n, area.height());
    }
}

void TKelvoScan::minimizeAll()
{
    const QList<QMdiSubWindow*> windows = childWindows();
    for (auto it = windows.crbegin(); it != windows.crend(); ++it)
        (*it)->showMinimized();
}

void TKelvoScan::arrangeIcons()
{
    // Minimised windows in a row along the bottom edge, wrapping upwards.
    const QSize area = m_mdi->viewport()->size();
    int x = 0;
    int y = area.height();
    for (QMdiSubWindow* w : childWindows()) {
        if (!w->isMinimized())
            continue;
        const QSize s = w->size();
        if (x > 0 && x + s.width() > area.width()) {
            x = 0;
            y -= s.height();
        }
        w->move(x, y - s.height());
        x += s.width();
    }
}

// ---------------------------------------------------------------------------------------
// What scanning asks of the user interface.

int TKelvoScan::messageBox(const QString& text, const QString& caption, int flags)
{
    return showMessageBox(isVisible() ? this : nullptr, text, caption, flags);
}

void TKelvoScan::pushWaitCursor()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TKelvoScan::popCursor()
{
    QApplication::restoreOverrideCursor();
}

void TKelvoScan::showAndActivateMainWindow()
{
    if (isMinimized() || !isVisible())
        showNormal();
    activateWindow();
    raise();
}

void TKelvoScan::createScanProgressArea()
{
    // "Seite N wird gescannt …", a bar for the page being read and a way to stop; Escape
    // does the same as the button.
    m_progressArea = new QWidget(statusBar());
    m_progressArea->setObjectName(QStringLiteral("ScanProgress"));
    m_progressArea->setAccessibleName(QStringLiteral("Scanvorgang"));
    auto* layout = new QHBoxLayout(m_progressArea);
    layout->setContentsMargins(0, 0, 0, 0);
    m_progressText = new QLabel(m_progressArea);
    m_progressBar = new QProgressBar(m_progressArea);
    m_progressBar->setObjectName(QStringLiteral("ScanProgressBar"));
    m_progressBar->setAccessibleName(QStringLiteral("Scanfortschritt"));
    m_progressBar->setMaximumWidth(160);
    m_progressBar->setTextVisible(false);
    auto* cancel = new QPushButton(QStringLiteral("Abbrechen"), m_progressArea);
    cancel->setObjectName(QStringLiteral("ScanCancel"));
    // A click leaves the focus with the page in front; Tab still reaches the button.
    cancel->setFocusPolicy(Qt::TabFocus);
    layout->addWidget(m_progressText);
    layout->addWidget(m_progressBar);
    layout->addWidget(cancel);
    statusBar()->addPermanentWidget(m_progressArea);
    m_progressArea->hide();
    // The summary of the last session stays until the next action; hints cover it only while
    // they are shown.
    m_summary = new SummaryLabel(statusBar());
    m_summary->setObjectName(QStringLiteral("ScanSummary"));
    m_summary->setAccessibleName(QStringLiteral("Ergebnis des Scans"));
    statusBar()->addWidget(m_summary, 1);
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_escape->setEnabled(false);
    connect(cancel, &QPushButton::clicked, this, [this] { m_scan->cancel(); });
    connect(m_escape, &QShortcut::activated, this, [this] { m_scan->cancel(); });
}

// Progress, summary and status go to the status bar; a window that is never shown has none.

void TKelvoScan::showScanProgress(int page, qint64 bytesRead, qint64 bytesExpected)
{
    if (!m_chrome)
        return;
    m_progressText->setText(QStringLiteral("Seite %1 wird gescannt …").arg(page));
    if (bytesExpected > 0) {
        // Kept in kilobytes: the bar counts in int.
        m_progressBar->setRange(0, static_cast<int>(std::min<qint64>(bytesExpected / 1024 + 1, INT_MAX)));
        m_progressBar->setValue(static_cast<int>(std::min<qint64>(bytesRead / 1024, m_progressBar->maximum())));
    } else {
        m_progressBar->setRange(0, 0); // not known: a bar that only shows activity
    }
    m_progressArea->show();
    m_escape->setEnabled(true);
}

void TKelvoScan::endScanProgress()
{
    if (!m_chrome)
        return;
    // A hidden button hands the focus on to the next widget, the first image window, which
    // would then come in front of the last page: the focus goes to the page in front first.
    // focusWidget(), not the application's: a message box may have the focus meanwhile, and
    // the window gives it back to the widget it remembers.
    if (m_progressArea->isAncestorOf(focusWidget())) {
        QMdiSubWindow* front = m_mdi->currentSubWindow();
        if (!front && !childWindows().isEmpty())
            front = m_mdi->subWindowList(QMdiArea::ActivationHistoryOrder).constLast();
        if (front) {
            m_mdi->setActiveSubWindow(front);
            (front->widget() ? front->widget() : front)->setFocus(Qt::OtherFocusReason);
        } else {
            m_mdi->setFocus(Qt::OtherFocusReason);
        }
    }
    m_progressArea->hide();
    m_escape->setEnabled(false);
    statusBar()->clearMessage();
}

void TKelvoScan::showSummary(const QString& text)
{
    if (!m_chrome)
        return;
    m_summary->setText(text);
    m_summary->show();
}

void TKelvoScan::clearSummary()
{
    if (m_summary)
        m_summary->clear();
}

void TKelvoScan::showStatus(const QString& text)
{
    if (!m_chrome)
        return;
    if (text.isEmpty())
        statusBar()->clearMessage();
    else
        statusBar()->showMessage(text);
}

} // namespace kelvo
