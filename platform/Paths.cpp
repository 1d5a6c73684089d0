#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>

namespace kelvo {

QString executableDir()
{
    return QCoreApplication::applicationDirPath();
}

QString tempDir()
{
    QString tmp = qEnvironmentVariable("TMP");
    while (tmp.size() > 1 && tmp.endsWith(QLatin1Char('/')))
        tmp.chop(1);
    if (tmp.isEmpty() || tmp == QLatin1String("/"))
        tmp = QDir::tempPath();
    if (tmp.isEmpty() || tmp == QLatin1String("/"))
        tmp = QStringLiteral("/tmp");
    return tmp;
}

} // namespace kelvo
