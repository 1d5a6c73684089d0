// KelvoBild: scan module and image viewer started by calling applications with a command
// line. Start-up order: application, title, main window (which reads the command line and,
// unattended, scans at once), About box, message loop. The exit code is always 0.
#include "app/AboutBox.h"
#include "app/MainWindow.h"
#include "app/MessageBox.h"
#include "app/Startup.h"
#include "imaging/SaneTwain.h"
#include "platform/Launcher.h"
#include "platform/Notifier.h"
#include "platform/Paths.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>
#include <cstdlib>

namespace {

int run(int argc, char** argv)
{
    // The arguments as the process received them. Qt sees only the program name, so that
    // none of them (-style, -session, …) is taken as one of its own options.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    kelvo::prepareDisplayMode();
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("KelvoBild"));
    QApplication::setApplicationVersion(QStringLiteral("1.4.0.0"));
    kelvo::installGermanTranslation(app);

    kelvo::SaneTwain twain;
    kelvo::SystemLauncher launcher;
    kelvo::X11Notifier notifier;
    kelvo::SessionState session;
    kelvo::Services services{&twain, &launcher, &notifier, kelvo::executableDir()};

    kelvo::TKelvoScan mainWindow(arguments, QLocale::system(), services, session);
    kelvo::TAboutBox aboutBox(&mainWindow);
    mainWindow.setAboutBox(&aboutBox);
    if (mainWindow.terminationRequested())
        return 0;
    mainWindow.show();
    app.exec();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    const int code = run(argc, argv);
    // Everything of ours is written, closed and released by now. Library destructors at exit
    // are skipped: a SANE backend that cancels its reader thread can leave a C library lock
    // held, and one of them (p11-kit's) then waits for it forever.
    std::fflush(nullptr);
    std::_Exit(code);
}
