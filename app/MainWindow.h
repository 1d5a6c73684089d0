// The frame window TKelvoScan: menus, tool bar, status bar with hints, the image windows in
// an MDI area, the command line shown in Befehlszeile, and the Scan action. Reads the command
// line when it is created (FormCreate) and opens the target file at its first paint in view
// mode (FormPaint). Implements what scanning asks of the user interface.
#pragma once

#include "app/CommandLine.h"
#include "scan/ScanSession.h"
#include "scan/ScanSettings.h"
#include "scan/ScanUi.h"

#include <QMainWindow>
#include <QMap>

#include <memory>

class QAction;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QShortcut;
class QToolBar;

namespace kelvo {

class SummaryLabel;
class TAboutBox;
class TMDIChild;

// The outside world the main window works with; the real one in the program, fakes in tests.
struct Services {
    TwainLayer* twain = nullptr;
    Launcher* launcher = nullptr;
    Notifier* notifier = nullptr;
    QString handOffDirectory;
    int terminationFd = -1; // readable when SIGTERM/SIGINT asked the program to end
};

class TKelvoScan final : public QMainWindow, public ScanUi {
    Q_OBJECT
public:
    // argv: the program name and its arguments. `session` holds the process-wide page
    // count, which /+ may set.
    // `instance`, when given, points at this window for as long as it exists (from before
    // an unattended scan in the constructor), for the process's exit handler.
    TKelvoScan(const QStringList& argv, const QLocale& locale, Services services, SessionState& session,
               TKelvoScan** instance = nullptr);
    ~TKelvoScan() override;

    void setAboutBox(TAboutBox* box) { m_aboutBox = box; }
    bool terminationRequested() const { return m_terminate; }
    // Without a usable display an interactive run would wait for a user who cannot come: the
    // one line that says why it ends instead. Empty with a display, or when the run ends anyway.
    QString endingWithoutDisplay() const;
    void setVisible(bool visible) override;

    void OpenChildWindow(const QString& fileName);
    void FileNew1Execute();
    void FileOpen1Execute();
    void HelpAbout1Execute();
    void FileExit1Execute();
    void FileScan1Execute();
    // The program is asked to end (SIGTERM, SIGINT): nothing waits for a click any more; a
    // running scan stops after the page being stored, writes what it has and hands off; then
    // the program quits.
    void terminate();
    // The process is going away unasked (the X server died): writes what the running scan
    // has, without any window.
    void salvageScan();

    const ScanSettings& settings() const { return m_settings; }
    QAction* action(const QString& name) const { return m_actions.value(name); }
    QMenu* windowMenu() const { return m_windowMenu; }
    QMdiArea* mdiArea() const { return m_mdi; }
    QLabel* befehlszeile() const { return m_befehlszeile; }
    QLabel* startHint() const { return m_startHint; }
    // The main window's client size below its menu bar, which image windows size against.
    QSize clientSizeForChildren() const;

    // ScanUi
    int messageBox(const QString& text, const QString& caption, int flags) override;
    void pushWaitCursor() override;
    void popCursor() override;
    void openChildWindow(const QString& fileName) override { OpenChildWindow(fileName); }
    void showAndActivateMainWindow() override;
    void showStatus(const QString& text) override;
    void showScanProgress(int page, qint64 bytesRead, qint64 bytesExpected) override;
    void endScanProgress() override;
    void showSummary(const QString& text) override;
    // The progress area in the status bar while a scan runs (hidden otherwise).
    QWidget* scanProgressArea() const { return m_progressArea; }
    // The summary of the last scan session, kept in the status bar until the next action.
    QString summaryText() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    // During a scan, closing asks first, then cancels the scan and closes when it has ended.
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void createMenus();
    void createToolBar();
    void createScanProgressArea();
    // Ends the program at the next turn of the event loop.
    void quitSoon();
    // Stops the running scan; the program quits when it has handed off.
    void stopScanThenQuit();
    void formCreate(const QStringList& argv, const CommandLineResult& commandLine);
    // The parts of the window that only matter once it is seen: menus, tool bar, status bar
    // with the progress area, the labels' sizes. Built once, at the latest when it is shown.
    void ensureChrome();
    void formPaint();
    void updateActions();
    void clearSummary();
    void rebuildWindowMenu();
    void placeStartHint();
    // Tiles the image windows stacked in the given direction.
    void tile(Qt::Orientation stacking);
    void minimizeAll();
    void arrangeIcons();
    QList<QMdiSubWindow*> childWindows() const;
    QAction* makeAction(const char* name, const QString& caption, const QString& hint,
                        int glyph, const QKeySequence& shortcut = {});

    ScanSettings m_settings;
    SessionState& m_session;
    Services m_services;
    std::unique_ptr<ScanSession> m_scan;
    TAboutBox* m_aboutBox = nullptr;
    QMdiArea* m_mdi = nullptr;
    QLabel* m_befehlszeile = nullptr;
    QLabel* m_startHint = nullptr;
    QToolBar* m_toolBar = nullptr;
    QMenu* m_windowMenu = nullptr;
    QList<QAction*> m_windowListActions;
    QMap<QString, QAction*> m_actions;
    QString m_pendingChildFile;
    bool m_terminate = false;
    bool m_chrome = false; // ensureChrome() has run
    bool m_quitAfterScan = false;
    QWidget* m_progressArea = nullptr;
    QLabel* m_progressText = nullptr;
    QProgressBar* m_progressBar = nullptr;
    QShortcut* m_escape = nullptr;
    SummaryLabel* m_summary = nullptr;
    QSize m_placedSize; // the size chosen at start-up, until the first show has fitted it
    TKelvoScan** m_instance = nullptr;
};

} // namespace kelvo
