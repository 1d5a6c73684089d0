// Starting other programs for the user: the external viewer and the desktop's default
// application. An interface so that tests can record what would have been started.
#pragma once

#include <QString>
#include <QStringList>

namespace kelvo {

class Launcher {
public:
    virtual ~Launcher() = default;
    // Splits `program` like a shell command line (quotes respected), appends `fileArg` as one
    // argument and starts it detached. Starts nothing and returns false for a blank program.
    virtual bool startViewer(const QString& program, const QString& fileArg) = 0;
    // Opens `file` with the desktop's default application; nothing without a display.
    virtual bool openWithDefaultApplication(const QString& file) = 0;
};

// The real thing: QProcess::startDetached with /dev/null as standard input, output and
// error, and xdg-open for the default application.
class SystemLauncher final : public Launcher {
public:
    bool startViewer(const QString& program, const QString& fileArg) override;
    bool openWithDefaultApplication(const QString& file) override;
};

// The program and arguments startViewer runs: `program` split like a shell command line,
// then `fileArg` as one argument (none when it is empty, as with a bare command line).
// Empty for a blank program.
QStringList viewerCommand(const QString& program, const QString& fileArg);

} // namespace kelvo
