// The main window on the offscreen platform: actions, hints, enabling, shortcuts, the
// Window menu, image windows, the About box and the start-up messages.
#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "platform/Display.h"
#include "support/Fakes.h"

#include <QApplication>

#include "support/System.h"
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kelvo;
using namespace kelvo::test;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        setMessageHook([this](const QString& text, const QString& caption, int flags) {
            messages.append({text, caption, flags});
            return (flags & 0xF) == MB_YESNO ? IDNO : IDOK;
        });
    }
    void TearDown() override
    {
        window.reset();
        setMessageHook({});
    }
    TKelvoScan& make(QStringList args = {}, const QLocale& locale = QLocale::c())
    {
        args.prepend(QStringLiteral("KelvoBild"));
        window = std::make_unique<TKelvoScan>(args, locale, Services{&twain, &launcher, &notifier, dir.path()}, session);
        return *window;
    }
    TKelvoScan& shown(QStringList args = {})
    {
        TKelvoScan& w = make(std::move(args));
        w.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTest::qWait(20);
        return w;
    }
    bool enabled(const char* name) { return window->action(QLatin1String(name))->isEnabled(); }
    QStringList windowMenuTail()
    {
        QStringList tail;
        const QList<QAction*> all = window->windowMenu()->actions();
        for (int i = 5; i < all.size(); ++i)
            if (!all[i]->isSeparator())
                tail << all[i]->text();
        return tail;
    }

    QTemporaryDir dir;
    FakeTwain twain;
    FakeLauncher launcher;
    FakeNotifier notifier;
    SessionState session;
    QList<Message> messages;
    std::unique_ptr<TKelvoScan> window;
};

} // namespace

TEST_F(MainWindowTest, ActionsHaveTheirCaptionsHintsAndShortcuts)
{
    make();
    const struct {
        const char* name;
        const char* caption;
        const char* tip;
        const char* status;
        const char* shortcut;
        bool glyph;
    } cases[] = {
        {"FileNew1", "&Neu", "Neu", "Neue Datei erstellen", "Ctrl+N", true},
        {"FileOpen1", "Ö&ffnen", "Öffnen", "Datei öffnen", "Ctrl+O", true},
        {"FileClose1", "&Schließen", "Schließen", "Aktuelle Datei schließen", "", false},
        {"FileSave1", "&Speichern", "Speichern", "Aktuelle Datei speichern", "Ctrl+S", true},
        {"FileSaveAs1", "Speichern &unter...", "Speichern unter", "Datei unter einem anderen Namen speichern", "", false},
        {"FileExit1", "&Beenden", "Beenden", "Programm beenden", "", false},
        {"EditCut1", "&Ausschneiden", "Ausschneiden", "Markiertes Objekt in die Zwischenablage verschieben", "Ctrl+X", true},
        {"EditCopy1", "&Kopieren", "Kopieren", "Markiertes Objekt in die Zwischenablage kopieren", "Ctrl+C", true},
        {"EditPaste1", "&Einfügen", "Einfügen", "Inhalt der Zwischenablage einfügen", "Ctrl+V", true},
        {"WindowCascade1", "Ü&berlappend", "Überlappend", "Überlappend", "", true},
        {"WindowTileHorizontal1", "Hori&zontal anordnen", "Horizontal anordnen", "Horizontal anordnen", "", true},
        {"WindowTileVertical1", "&Vertikal anordnen", "Vertikal anordnen", "Vertikal anordnen", "", true},
        {"WindowMinimizeAll1", "&Alle verkleinern", "Alle verkleinern", "Alle verkleinern", "", false},
        {"WindowArrangeAll1", "Alle an&ordnen", "Alle anordnen", "Alle anordnen", "", false},
        {"HelpAbout1", "&Info...", "Info", "Anzeige von Programminformationen, Versionsnummer und Copyright-Vermerk", "", false},
        {"FileScan1", "S&cannen", "", "", "", false},
    };
    for (const auto& c : cases) {
        QAction* a = window->action(QLatin1String(c.name));
        ASSERT_NE(a, nullptr) << c.name;
        EXPECT_EQ(a->text(), QString::fromUtf8(c.caption)) << c.name;
        EXPECT_EQ(a->statusTip(), QString::fromUtf8(c.status)) << c.name;
        EXPECT_EQ(a->shortcut().toString(), QString::fromUtf8(c.shortcut)) << c.name;
        EXPECT_EQ(!a->icon().isNull(), c.glyph) << c.name;
        if (*c.tip) {
            EXPECT_EQ(a->toolTip(), QString::fromUtf8(c.tip)) << c.name;
        }
    }
}

TEST_F(MainWindowTest, MenusAndToolBarShowWhatIsVisible)
{
    make();
    const auto visibleTexts = [](QMenu* m) {
        QStringList t;
        for (QAction* a : m->actions())
            if (a->isVisible())
                t << (a->isSeparator() ? QStringLiteral("-") : a->text());
        return t;
    };
    QMenuBar* bar = window->menuBar();
    QStringList titles;
    QStringList hints;
    for (QAction* a : bar->actions()) {
        titles << a->text();
        hints << a->statusTip();
    }
    EXPECT_EQ(titles, QStringList({"&Datei", "&Bearbeiten", "&Fenster", "&Hilfe"}));
    EXPECT_EQ(hints, QStringList({"Dateibefehle", "Anweisungen zur Bearbeitung", "Fensterbezogene Anweisungen", "Hilfethemen"}));
    EXPECT_EQ(visibleTexts(bar->actions()[0]->menu()),
              QStringList({"Ö&ffnen", "S&cannen", "&Schließen", "-", "&Beenden"}));
    EXPECT_EQ(visibleTexts(bar->actions()[1]->menu()), QStringList({"&Ausschneiden", "&Kopieren", "&Einfügen"}));
    EXPECT_EQ(visibleTexts(bar->actions()[3]->menu()), QStringList({"&Info..."}));
    EXPECT_NE(bar->actions()[0]->menu()->findChild<QAction*>(QStringLiteral("FileNewItem")), nullptr);

    auto* toolBar = window->findChild<QToolBar*>(QStringLiteral("ToolBar"));
    ASSERT_NE(toolBar, nullptr);
    QStringList buttons;
    for (QAction* a : toolBar->actions()) {
        if (a->isSeparator())
            buttons << QStringLiteral("-");
        else if (QWidget* w = toolBar->widgetForAction(a))
            buttons << w->objectName();
    }
    EXPECT_EQ(buttons, QStringList({"ToolbarOeffnen", "-", "ToolButton4", "ToolButton5", "ToolButton6", "-",
                                    "ToolbarUeberl", "ToolbarHoriz", "ToolbarVert", "ToolbarScan"}));
    auto* open = toolBar->findChild<QToolButton*>(QStringLiteral("ToolbarOeffnen"));
    ASSERT_NE(open, nullptr);
    EXPECT_EQ(open->toolTip(), "Öffnen");
    auto* scan = toolBar->findChild<QToolButton*>(QStringLiteral("ToolbarScan"));
    ASSERT_NE(scan, nullptr);
    EXPECT_EQ(scan->toolTip(), "Scannen");
    EXPECT_FALSE(scan->icon().isNull());
}

TEST_F(MainWindowTest, StatusBarShowsTheLongHints)
{
    TKelvoScan& w = shown();
    QMenu* file = w.menuBar()->actions()[0]->menu();
    file->popup(w.mapToGlobal(QPoint(10, 10)));
    file->setActiveAction(w.action(QStringLiteral("FileOpen1")));
    QTest::qWait(20);
    EXPECT_EQ(w.statusBar()->currentMessage(), "Datei öffnen");
    file->hide();

    auto* open = w.findChild<QToolButton*>(QStringLiteral("ToolbarOeffnen"));
    QTest::mouseMove(open);
    QTest::qWait(20);
    QApplication::sendEvent(open, new QEnterEvent(QPointF(2, 2), QPointF(2, 2), open->mapToGlobal(QPointF(2, 2))));
    QTest::qWait(20);
    EXPECT_EQ(w.statusBar()->currentMessage(), "Datei öffnen");

    QMenuBar* bar = w.menuBar();
    const QPointF title = bar->actionGeometry(bar->actions()[0]).center();
    QMouseEvent move(QEvent::MouseMove, title, bar->mapToGlobal(title), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(bar, &move);
    QTest::qWait(20);
    EXPECT_EQ(w.statusBar()->currentMessage(), "Dateibefehle");
}

// A disabled entry shows its hint too while the mouse rests on it.
TEST_F(MainWindowTest, DisabledMenuEntriesShowTheirHints)
{
    TKelvoScan& w = shown();
    QMenu* edit = w.menuBar()->actions()[1]->menu();
    edit->popup(w.mapToGlobal(QPoint(10, 10)));
    QTest::qWait(20);
    for (const char* name : {"EditCopy1", "EditPaste1"}) {
        QAction* a = w.action(QLatin1String(name));
        ASSERT_FALSE(a->isEnabled());
        QTest::mouseMove(edit, edit->actionGeometry(a).center());
        const QPointF at = edit->actionGeometry(a).center();
        QMouseEvent move(QEvent::MouseMove, at, edit->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(edit, &move);
        QTest::qWait(20);
        EXPECT_EQ(w.statusBar()->currentMessage(), a->statusTip()) << name;
    }
    edit->hide();
}

// The empty frame says where to start; the hint goes while an image window is open. Image
// windows carry the program's icon, and a caption with "[*]" shows as it is.
TEST_F(MainWindowTest, StartHintIconAndCaptions)
{
    TKelvoScan& w = shown();
    QLabel* hint = w.startHint();
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), "Datei > Öffnen zeigt ein Bild, Datei > Scannen scannt");
    EXPECT_TRUE(w.mdiArea()->viewport()->rect().contains(hint->geometry()));
    const QString name = dir.path() + QStringLiteral("/Akte[*]&1.png");
    w.OpenChildWindow(name);
    QTest::qWait(20);
    EXPECT_FALSE(hint->isVisible());
    QMdiSubWindow* child = w.mdiArea()->subWindowList().constFirst();
    EXPECT_EQ(child->windowIcon().cacheKey(), w.windowIcon().cacheKey());
    EXPECT_EQ(windowMenuTail(), QStringList({QStringLiteral("&1 ") + dir.path() + QStringLiteral("/Akte[*]&&1.png")}));
    // Qt shows a title's "[*][*]" as "[*]".
    EXPECT_EQ(child->windowTitle(), dir.path() + QStringLiteral("/Akte[*][*]&1.png"));
    child->close();
    QTest::qWait(50);
    EXPECT_TRUE(hint->isVisible());
}

TEST_F(MainWindowTest, WindowActionsFollowTheImageWindows)
{
    TKelvoScan& w = shown();
    const char* windowActions[] = {"WindowCascade1", "WindowTileHorizontal1", "WindowTileVertical1",
                                   "WindowMinimizeAll1", "WindowArrangeAll1", "FileClose1"};
    for (const char* a : windowActions)
        EXPECT_FALSE(enabled(a)) << a;
    for (const char* a : {"EditCut1", "EditCopy1", "EditPaste1", "FileSave1", "FileSaveAs1"})
        EXPECT_FALSE(enabled(a)) << a;
    EXPECT_TRUE(enabled("FileScan1"));

    w.OpenChildWindow(dir.path() + QStringLiteral("/missing.png"));
    QTest::qWait(20);
    for (const char* a : windowActions)
        EXPECT_TRUE(enabled(a)) << a;
    EXPECT_EQ(windowMenuTail(), QStringList({QStringLiteral("&1 ") + dir.path() + QStringLiteral("/missing.png")}));

    w.action(QStringLiteral("FileClose1"))->trigger();
    QTest::qWait(50);
    EXPECT_TRUE(w.mdiArea()->subWindowList().isEmpty());
    for (const char* a : windowActions)
        EXPECT_FALSE(enabled(a)) << a;
    EXPECT_TRUE(windowMenuTail().isEmpty());
}

TEST_F(MainWindowTest, CtrlNNumbersNewWindowsByTheirCount)
{
    TKelvoScan& w = shown();
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QTest::qWait(20);
    EXPECT_EQ(windowMenuTail(), QStringList({"&1 NONAME1", "&2 NONAME2", "&3 NONAME3"}));
    w.mdiArea()->subWindowList(QMdiArea::CreationOrder).at(0)->close();
    QTest::qWait(50);
    QTest::keyClick(&w, Qt::Key_N, Qt::ControlModifier);
    QTest::qWait(20);
    EXPECT_EQ(windowMenuTail(), QStringList({"&1 NONAME2", "&2 NONAME3", "&3 NONAME3"}));
    // Save and the edit shortcuts do nothing.
    for (auto key : {Qt::Key_S, Qt::Key_X, Qt::Key_C, Qt::Key_V})
        QTest::keyClick(&w, key, Qt::ControlModifier);
    QTest::qWait(20);
    EXPECT_EQ(w.mdiArea()->subWindowList().size(), 3);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(MainWindowTest, WindowCommandsArrangeTheImageWindows)
{
    TKelvoScan& w = shown();
    for (int i = 0; i < 3; ++i)
        w.FileNew1Execute();
    const QList<QMdiSubWindow*> list = w.mdiArea()->subWindowList(QMdiArea::CreationOrder);
    const QSize area = w.mdiArea()->viewport()->size();

    w.action(QStringLiteral("WindowTileHorizontal1"))->trigger();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i]->geometry().top(), i * (area.height() / 3)) << i;
        EXPECT_EQ(list[i]->geometry().left(), 0);
    }
    w.action(QStringLiteral("WindowTileVertical1"))->trigger();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(list[i]->geometry().left(), i * (area.width() / 3)) << i;
        EXPECT_EQ(list[i]->geometry().top(), 0);
    }
    QList<QMdiSubWindow*> minimisedOrder;
    QObject recording; // ends the recording with this test, before the windows close
    for (QMdiSubWindow* s : list)
        QObject::connect(s, &QMdiSubWindow::windowStateChanged, &recording, [&minimisedOrder, s](Qt::WindowStates, Qt::WindowStates now) {
            if ((now & Qt::WindowMinimized) && !minimisedOrder.contains(s))
                minimisedOrder << s;
        });
    w.action(QStringLiteral("WindowMinimizeAll1"))->trigger();
    EXPECT_EQ(minimisedOrder, QList<QMdiSubWindow*>({list[2], list[1], list[0]}));
    w.action(QStringLiteral("WindowArrangeAll1"))->trigger();
    EXPECT_LT(list[0]->geometry().left(), list[1]->geometry().left());
    EXPECT_EQ(list[0]->geometry().bottom(), area.height() - 1);
}

TEST_F(MainWindowTest, BefehlszeileShowsTheCommandLine)
{
    make({"-S", "Meine Scans/Bild 01.png", ""});
    EXPECT_EQ(window->befehlszeile()->text(), "KelvoBild -S \"Meine Scans/Bild 01.png\"");
    EXPECT_EQ(window->befehlszeile()->objectName(), "Befehlszeile");
    EXPECT_EQ(window->windowTitle(), "Kelvo-Scan-Modul");
}

TEST_F(MainWindowTest, StartUpMessages)
{
    const struct {
        const char* name;
        QStringList args;
        QLocale locale;
        QStringList expected; // "caption: text"
        bool terminates;
        int acquisitions;
    } cases[] = {
        {"AudioInteractive", {"-A"}, QLocale::c(), {"Parameter: -A (Audio) wird noch nicht unterstützt!"}, false, 0},
        {"AudioUnattended", {"-A", "/X"}, QLocale::c(), {"Parameter: -A (Audio) wird noch nicht unterstützt!"}, true, 0},
        {"Clipboard", {"-C"}, QLocale::c(), {"Parameter: -C (Clipboard/Grabber) wird noch nicht unterstützt!"}, false, 0},
        {"ConversionStops", {"-S", "/X", "/P150.5"}, QLocale(QLocale::German, QLocale::Germany),
         {"Kelvo-Scan-Modul: '150.5' ist kein gültiger Gleitkommawert."}, false, 0},
        {"ConversionBeforeMode", {"/Pabc", "-A"}, QLocale::c(), {"Kelvo-Scan-Modul: 'ABC' ist kein gültiger Gleitkommawert."}, false, 0},
        {"ViewIgnoresExit", {"-S", "/X", "-V"}, QLocale::c(), {}, false, 0},
        {"Unattended", {"-S", "/X", "/P200"}, QLocale::c(), {}, true, 1},
        // A refused target name ends an unattended run before anything is scanned.
        {"TargetTooLong", {"-S", "/X", QString(253, QLatin1Char('a')) + "01.JPG"}, QLocale::c(),
         {"Parameter: Dateiname zu lang (höchstens 255 Zeichen): " + QString(253, QLatin1Char('a')) + "01.JPG"}, true, 0},
        {"TargetNotText", {"-S", "/X", QString::fromLocal8Bit("Akte\xe4" "01.PNG")}, QLocale::c(),
         {QString::fromUtf8("Parameter: Dateiname ist in der Zeichenkodierung des Systems nicht g\xc3\xbcltig: Akte\xef\xbf\xbd" "01.PNG")}, true, 0},
    };
    setHasDisplay(true);
    for (const auto& c : cases) {
        messages.clear();
        twain.calls.clear();
        make(c.args, c.locale);
        QStringList seen;
        for (const Message& m : messages)
            seen << m.caption + QStringLiteral(": ") + m.text;
        EXPECT_EQ(seen, c.expected) << c.name;
        EXPECT_EQ(window->terminationRequested(), c.terminates) << c.name;
        EXPECT_EQ(twain.calls.filter(QStringLiteral("acquire")).size(), c.acquisitions) << c.name;
        if (c.acquisitions) {
            EXPECT_TRUE(window->windowState() & Qt::WindowMinimized) << c.name;
            // Built without menus for speed, the window still gets them when it is shown
            // (the PDF question of an unattended run shows it).
            window->showNormal();
            EXPECT_NE(window->action(QStringLiteral("FileScan1")), nullptr) << c.name;
            EXPECT_NE(window->findChild<QMenuBar*>(QStringLiteral("HauptMenu")), nullptr) << c.name;
            EXPECT_NE(window->scanProgressArea(), nullptr) << c.name;
        }
        if (QString::fromLatin1(c.name).startsWith(QLatin1String("Conversion"))) {
            EXPECT_EQ(messages.first().flags & MB_ICONERROR, MB_ICONERROR);
        }
    }
    // Without a display nobody could close the window after the conversion error.
    setHasDisplay(false);
    make({"/Pabc"}, QLocale::c());
    EXPECT_TRUE(window->terminationRequested());
}

TEST_F(MainWindowTest, ViewModeOpensTheTargetAtTheFirstPaint)
{
    const QString image = dir.path() + QStringLiteral("/seite.png");
    KELVO_POSIX_ONLY();
    ASSERT_TRUE(makeFifo(dir.path() + QStringLiteral("/pipe")));
    QImage(40, 30, QImage::Format_RGB32).save(image);
    const struct {
        QString target;
        int windows;
        QStringList expected;
    } cases[] = {
        {image, 1, {}},
        {dir.path() + QStringLiteral("/fehlt.png"), 0, {"Fehler: Datei '" + dir.path() + "/fehlt.png' existiert nicht!"}},
        {dir.path(), 0, {"Fehler: Datei '" + dir.path() + "' existiert nicht!"}},
        {dir.path() + QStringLiteral("/pipe"), 0, {"Fehler: Datei '" + dir.path() + "/pipe' existiert nicht!"}},
    };
    for (const auto& c : cases) {
        messages.clear();
        TKelvoScan& w = shown({c.target});
        w.update();
        w.mdiArea()->viewport()->repaint();
        QTest::qWait(50);
        QStringList seen;
        for (const Message& m : messages)
            seen << m.caption + QStringLiteral(": ") + m.text;
        EXPECT_EQ(seen, c.expected) << c.target.toStdString();
        ASSERT_EQ(w.mdiArea()->subWindowList().size(), c.windows);
        if (c.windows) {
            EXPECT_EQ(w.mdiArea()->subWindowList().first()->windowTitle(), c.target);
        }
    }
    // -A alone: the message, and the target is not opened.
    messages.clear();
    TKelvoScan& w = shown({"-A", image});
    QTest::qWait(50);
    EXPECT_EQ(messages.size(), 1);
    EXPECT_TRUE(w.mdiArea()->subWindowList().isEmpty());
}

TEST_F(MainWindowTest, AboutBoxContentFocusAndKeys)
{
    TKelvoScan& w = shown();
    TAboutBox box(&w);
    w.setAboutBox(&box);
    EXPECT_EQ(box.windowTitle(), "Info");
    EXPECT_EQ(box.size(), QSize(328, 213));
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("ProductName"))->text(), "Kelvo-Scan-Modul und Viewer");
    EXPECT_EQ(box.findChild<QLabel*>(QStringLiteral("Version"))->text(), "Version 1.4");
    // Copyright line and memo lie whole inside the panel.
    const QWidget* panel = box.findChild<QWidget*>(QStringLiteral("Panel1"));
    for (const char* inside : {"Copyright", "Neues", "ProductName", "ProgramIcon"}) {
        const QWidget* c = box.findChild<QWidget*>(QLatin1String(inside));
        ASSERT_NE(c, nullptr) << inside;
        EXPECT_TRUE(panel->contentsRect().contains(c->geometry())) << inside;
    }
    const auto* copyright = box.findChild<QLabel*>(QStringLiteral("Copyright"));
    EXPECT_GE(copyright->width(), copyright->fontMetrics().horizontalAdvance(copyright->text()));
    auto* news = box.findChild<QPlainTextEdit*>(QStringLiteral("Neues"));
    ASSERT_NE(news, nullptr);
    EXPECT_TRUE(news->isReadOnly());
    EXPECT_EQ(news->toPlainText().split(QLatin1Char('\n')),
              QStringList({"Neu:", "/L Leerseiten ignorieren (Version 1.2)", "/U automatisch umdrehen (Version 1.2)",
                           "/CPDF neues Format (Version 1.4)"}));

    for (int round = 0; round < 2; ++round) {
        bool focusOnOk = false;
        bool openAfterEscape = false;
        QTimer::singleShot(100, &box, [&] {
            focusOnOk = box.focusWidget() == box.okButton();
            news->setFocus();
            QTest::keyClick(&box, Qt::Key_Escape);
            openAfterEscape = box.isVisible();
            box.okButton()->setFocus();
            QTest::keyClick(box.okButton(), Qt::Key_Return);
        });
        QPoint centre;
        QTimer::singleShot(50, &box, [&] {
            centre = box.geometry().center();
            box.showMaximized();
        });
        w.HelpAbout1Execute();
        EXPECT_LE((centre - box.screen()->availableGeometry().center()).manhattanLength(), 4) << round;
        EXPECT_EQ(box.size(), QSize(328, 213));
        EXPECT_TRUE(focusOnOk) << round;
        EXPECT_TRUE(openAfterEscape) << round;
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(box.result(), QDialog::Accepted);
    }
}

TEST_F(MainWindowTest, OpenDialogShowsAllFilesAlsoWithoutADot)
{
    TKelvoScan& w = shown();
    QFile(dir.path() + QStringLiteral("/ohnepunkt")).open(QIODevice::WriteOnly);
    QFile(dir.path() + QStringLiteral("/mit.punkt")).open(QIODevice::WriteOnly);
    QStringList filters;
    bool noextShown = false;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
        auto* dlg = w.findChild<QFileDialog*>();
        if (!dlg)
            return;
        poll.stop();
        filters = dlg->nameFilters();
        auto* model = dlg->findChild<QFileSystemModel*>();
        noextShown = model && model->nameFilters() == QStringList{"*"};
        QStringList matched;
        for (const QString& f : {QStringLiteral("ohnepunkt"), QStringLiteral("mit.punkt")})
            for (const QString& pattern : model->nameFilters())
                if (QRegularExpression::fromWildcard(pattern).match(f).hasMatch())
                    matched << f;
        noextShown = noextShown && matched.size() == 2;
        dlg->setDirectory(dir.path());
        if (auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
            edit->setText(QStringLiteral("gibtsnicht.tif"));
        static_cast<QDialog*>(dlg)->done(QDialog::Accepted);
    });
    poll.start();
    w.FileOpen1Execute();
    EXPECT_EQ(filters, QStringList({"Alle Dateien (*.*)"}));
    EXPECT_TRUE(noextShown);
    ASSERT_EQ(w.mdiArea()->subWindowList().size(), 1);
    EXPECT_EQ(w.mdiArea()->subWindowList().first()->windowTitle(), dir.path() + QStringLiteral("/gibtsnicht.tif"));
}

TEST(StandardButtons, ReadGerman)
{
    installGermanTranslation(*QCoreApplication::instance());
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Scan in PDF"), QStringLiteral("Weitere Seite(n) scannen?"),
                    QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), "Ja");
    EXPECT_EQ(box.button(QMessageBox::No)->text().remove(QLatin1Char('&')), "Nein");
    QMessageBox ok(QMessageBox::NoIcon, QStringLiteral("x"), QStringLiteral("y"), QMessageBox::Ok);
    EXPECT_EQ(ok.button(QMessageBox::Ok)->text().remove(QLatin1Char('&')), "OK");
}

TEST_F(MainWindowTest, ClosingDuringAScanAsksCancelsAndHandsOffFirst)
{
    // Nein keeps scanning; Ja stops after the page being stored, hands off, then quits.
    for (const int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDYES ? "Ja" : "Nein");
        for (const QString& f : QDir(dir.path()).entryList(QDir::Files))
            QFile::remove(dir.path() + QLatin1Char('/') + f);
        TKelvoScan& w = shown({"-S", dir.path() + QStringLiteral("/C01.PNG")});
        QStringList asked;
        setMessageHook([&](const QString& text, const QString&, int flags) {
            asked << text;
            return (flags & 0xF) == MB_YESNO ? answer : IDOK;
        });
        FakeTwain::Acquisition a;
        for (int i = 0; i < 4; ++i)
            a.pages << testPage(8);
        twain.acquisitions = {a};
        twain.duringAcquire = [&w] { w.close(); };
        w.FileScan1Execute();
        twain.duringAcquire = nullptr;
        EXPECT_EQ(asked, QStringList{"Der Scan läuft noch. Abbrechen und beenden?"});
        QFile h(dir.path() + QStringLiteral("/SendToKelvo.TXT"));
        ASSERT_TRUE(h.open(QIODevice::ReadOnly));
        if (answer == IDYES) {
            EXPECT_EQ(h.readAll(), "'0'S"); // cancelled before its first page
            EXPECT_TRUE(w.terminationRequested());
        } else {
            EXPECT_EQ(h.readAll(), QFile::encodeName(dir.path()) + "/C04.PNG'4'S");
            EXPECT_FALSE(w.terminationRequested());
        }
        window.reset();
    }
}

TEST_F(MainWindowTest, ProgressAreaWhileScanningEscapeCancelsAndASummaryAfterwards)
{
    TKelvoScan& w = shown({"-S", dir.path() + QStringLiteral("/E01.PNG")});
    w.activateWindow();
    FakeTwain::Acquisition a;
    for (int i = 0; i < 5; ++i)
        a.pages << testPage(8);
    twain.acquisitions = {a};
    QStringList seen;
    twain.duringPage = [&](int n) {
        seen << QStringLiteral("%1:%2").arg(w.scanProgressArea()->isVisible()).arg(w.statusBar()->findChild<QProgressBar*>()->maximum() > 0);
        if (n == 2)
            QTest::keyClick(&w, Qt::Key_Escape);
    };
    w.FileScan1Execute();
    twain.duringPage = nullptr;
    // Shown from the first page on, with a bar of the expected size; Escape stopped the scan
    // after the page being read, which is kept.
    EXPECT_EQ(seen, QStringList({"1:1", "1:1"}));
    EXPECT_FALSE(w.scanProgressArea()->isVisible());
    EXPECT_TRUE(QFileInfo::exists(dir.path() + QStringLiteral("/E02.PNG")));
    EXPECT_FALSE(QFileInfo::exists(dir.path() + QStringLiteral("/E03.PNG")));
    ASSERT_FALSE(messages.isEmpty());
    EXPECT_EQ(messages.last().text, "An error occurred in L_TwainAcquire(...), Error No: -107");
    EXPECT_EQ(w.statusBar()->currentMessage(), "2 Seiten gespeichert – " + dir.path() + "/E02.PNG");
}
