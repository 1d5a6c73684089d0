#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

QByteArray g_privateDir; // encoded path of this process's own directory, empty when none

} // namespace

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

QString privateTempDir()
{
    if (g_privateDir.isEmpty()) {
        // mkdtemp creates the directory with mode 0700 and a name nobody else holds.
        QByteArray templ = QFile::encodeName(tempDir()) + "/KelvoBild-XXXXXX";
        if (::mkdtemp(templ.data()) == nullptr)
            return {};
        g_privateDir = templ;
    }
    return QFile::decodeName(g_privateDir);
}

void removePrivateTempDir()
{
    if (g_privateDir.isEmpty())
        return;
    // Only plain names of our own making are inside; no recursion, no links followed.
    const int dirFd = ::open(g_privateDir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd >= 0) {
        if (DIR* d = ::fdopendir(dirFd)) {
            while (const dirent* e = ::readdir(d)) {
                const char* n = e->d_name;
                if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
                    continue;
                ::unlinkat(dirFd, n, 0);
            }
            ::closedir(d); // closes dirFd too
        } else {
            ::close(dirFd);
        }
    }
    ::rmdir(g_privateDir.constData());
    g_privateDir.clear();
}

} // namespace kelvo
