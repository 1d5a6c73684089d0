// KelvoBild: scan module and image viewer started by calling applications with a command
// line. Start-up order: application, title, main window (which reads the command line and,
// unattended, scans at once), About box, message loop. The exit code is always 0.
#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "platform/Display.h"
#include "platform/Launcher.h"
#include "platform/Notifier.h"
#include "platform/Paths.h"
#include "platform/Termination.h"
#include "scanner/ScannerLayer.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

namespace {

kelvo::TKelvoScan* g_mainWindow = nullptr;

// Everything of ours is written, closed and released by now. Library destructors at exit
// are skipped: a SANE backend that cancels its reader thread can leave a C library lock
// held, and one of them (p11-kit's) then waits for it forever.
[[noreturn]] void endProcess(int code)
{
    kelvo::removePrivateTempDir();
    std::fflush(nullptr);
    std::_Exit(code);
}

// Qt ends the process with exit() when the X server goes away. What was scanned must still
// reach its file and the caller, and nothing may crash in library destructors afterwards.
void onUnexpectedExit()
{
    kelvo::setAnswerMessagesOnStderr(true);
    kelvo::setHasDisplay(false); // the desktop is gone: nothing to open the PDF on
    if (g_mainWindow)
        g_mainWindow->salvageScan();
    kelvo::removePrivateTempDir();
    std::fflush(nullptr);
    std::_Exit(0);
}

int run(int argc, char** argv)
{
    // The arguments as the process received them. Qt sees only the program name, so that
    // none of them (-style, -session, …) is taken as one of its own options.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    const int terminationFd = kelvo::installTerminationHandlers();
    kelvo::prepareDisplayMode();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvoBild"));
    QApplication::setApplicationVersion(QStringLiteral("1.4.0.0"));
    kelvo::installGermanTranslation(app);

    const std::unique_ptr<kelvo::TwainLayer> twain = kelvo::createScannerLayer();
    kelvo::SystemLauncher launcher;
    kelvo::SystemNotifier notifier;
    kelvo::SessionState session;
    kelvo::Services services{twain.get(), &launcher, &notifier, kelvo::executableDir(), terminationFd};

    kelvo::setExitHandler(onUnexpectedExit);
    kelvo::TKelvoScan mainWindow(arguments, QLocale::system(), services, session, &g_mainWindow);
    // An unattended run has ended inside the constructor, its pages and hand-off written and
    // the scanner closed. Nobody will see the About box, and taking the window, the scanner
    // layer and Qt apart would only delay the caller.
    if (mainWindow.terminationRequested())
        endProcess(0);
    kelvo::TAboutBox aboutBox(&mainWindow);
    mainWindow.setAboutBox(&aboutBox);
    mainWindow.show();
    app.exec();
    g_mainWindow = nullptr;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    endProcess(run(argc, argv));
}
