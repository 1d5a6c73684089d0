#include "platform/Launcher.h"

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

bool SystemLauncher::startViewer(const QString& program, const QString& fileArg)
{
    const QStringList command = viewerCommand(program, fileArg);
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.first(), command.mid(1));
}

bool SystemLauncher::openWithDefaultApplication(const QString& file)
{
    // Qt Core only here, so the desktop's opener is asked directly.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {file});
}

} // namespace kelvo
