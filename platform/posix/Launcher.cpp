#include "platform/Launcher.h"

#include "platform/Display.h"

#include <QProcess>

namespace kelvo {

QStringList viewerCommand(const QString& program, const QString& fileArg)
{
    // The program is used as typed: paths on this file system are case-sensitive.
    QStringList words = QProcess::splitCommand(program);
    if (words.isEmpty())
        return {};
    // The file name may hold blanks and quotes; it never goes through the splitter.
    if (!fileArg.isEmpty())
        words.append(fileArg);
    return words;
}

namespace {

// Started programs never hold the caller's pipes: a caller that waits for our standard
// output or error to close must not wait for a viewer the user keeps open.
bool startDetachedQuietly(const QString& program, const QStringList& arguments)
{
    QProcess p;
    p.setProgram(program);
    p.setArguments(arguments);
    p.setStandardInputFile(QProcess::nullDevice());
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    return p.startDetached();
}

} // namespace

bool SystemLauncher::startViewer(const QString& program, const QString& fileArg)
{
    const QStringList command = viewerCommand(program, fileArg);
    if (command.isEmpty())
        return false;
    return startDetachedQuietly(command.first(), command.mid(1));
}

bool SystemLauncher::openWithDefaultApplication(const QString& file)
{
    // Without a display there is nobody to show it to.
    if (!hasDisplay())
        return false;
    // Qt Core only here, so the desktop's opener is asked directly.
    return startDetachedQuietly(QStringLiteral("xdg-open"), {file});
}

} // namespace kelvo
