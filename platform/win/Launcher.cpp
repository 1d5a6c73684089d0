#include "platform/Launcher.h"

#include "platform/Display.h"
#include "platform/Text.h"

#include <QDir>

#include <windows.h>
#include <shellapi.h>

namespace kelvo {

QStringList viewerCommand(const QString& program, const QString& fileArg)
{
    if (program.trimmed().isEmpty())
        return {};
    QString line = program;
    if (!fileArg.isEmpty()) {
        // A name with a blank would reach the viewer as two arguments; Windows file names
        // cannot hold a quote, so quoting it is always exact.
        const QString name = QDir::toNativeSeparators(fileArg);
        const bool quote = name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('\t'));
        line += QLatin1Char(' ') + (quote ? QLatin1Char('"') + name + QLatin1Char('"') : name);
    }
    return {line};
}

bool SystemLauncher::startViewer(const QString& program, const QString& fileArg)
{
    const QStringList command = viewerCommand(program, fileArg);
    if (command.isEmpty())
        return false;
    // WinExec takes the command line in the system code page.
    return WinExec(toNarrow(command.first()).constData(), SW_SHOWNORMAL) > 31;
}

bool SystemLauncher::openWithDefaultApplication(const QString& file)
{
    if (!hasDisplay())
        return false;
    const QString native = QDir::toNativeSeparators(file);
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(
        nullptr, nullptr, reinterpret_cast<const wchar_t*>(native.utf16()), nullptr, nullptr, SW_SHOWMAXIMIZED));
    return result > 32;
}

} // namespace kelvo
