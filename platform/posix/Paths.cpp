#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>
#include <cstring>
#include <ctime>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

QByteArray g_privateDir; // encoded path of this process's own directory, empty when none
int g_privateDirFd = -1; // held with a shared lock while the directory is ours
constexpr char kPrivatePrefix[] = "KelvoBild-";
// A directory younger than this may belong to a run that has just made it and not yet locked it.
constexpr time_t kAbandonedAfterSeconds = 60;

// Removes the plain entries of an open directory (ours: no subdirectories, no links followed).
void emptyDirectory(int dirFd)
{
    const int listFd = ::dup(dirFd);
    if (listFd < 0)
        return;
    DIR* d = ::fdopendir(listFd);
    if (!d) {
        ::close(listFd);
        return;
    }
    while (const dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        if (n[0] == '.' && (n[1] == 0 || (n[1] == '.' && n[2] == 0)))
            continue;
        ::unlinkat(dirFd, n, 0);
    }
    ::closedir(d);
}

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
        // The lock tells other runs this directory has an owner; it goes with the process.
        g_privateDirFd = ::open(templ.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (g_privateDirFd >= 0)
            ::flock(g_privateDirFd, LOCK_SH);
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
        emptyDirectory(dirFd);
        ::close(dirFd);
    }
    ::rmdir(g_privateDir.constData());
    g_privateDir.clear();
    if (g_privateDirFd >= 0) {
        ::close(g_privateDirFd);
        g_privateDirFd = -1;
    }
}

void removeAbandonedTempDirs()
{
    const QByteArray tmp = QFile::encodeName(tempDir());
    const int tmpFd = ::open(tmp.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (tmpFd < 0)
        return;
    const int listFd = ::dup(tmpFd);
    DIR* d = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!d) {
        if (listFd >= 0)
            ::close(listFd);
        ::close(tmpFd);
        return;
    }
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        const char* n = e->d_name;
        // mkdtemp's names: the prefix and six characters.
        if (std::strncmp(n, kPrivatePrefix, sizeof kPrivatePrefix - 1) != 0
            || std::strlen(n) != sizeof kPrivatePrefix - 1 + 6)
            continue;
        const int fd = ::openat(tmpFd, n, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        const bool ours = ::fstat(fd, &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0
                          && now - st.st_mtime > kAbandonedAfterSeconds;
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            emptyDirectory(fd);
            ::unlinkat(tmpFd, n, AT_REMOVEDIR);
        }
        ::close(fd);
    }
    ::closedir(d);
    ::close(tmpFd);
}

QString keepPrivateTempDir()
{
    if (g_privateDir.isEmpty())
        return {};
    if (QDir(QFile::decodeName(g_privateDir)).isEmpty()) {
        removePrivateTempDir();
        return {};
    }
    // Out of the pattern that removeAbandonedTempDirs() takes; never over someone else's name.
    QByteArray kept = g_privateDir + "-Seiten";
    if (::renameat2(AT_FDCWD, g_privateDir.constData(), AT_FDCWD, kept.constData(), RENAME_NOREPLACE) != 0)
        kept = g_privateDir;
    g_privateDir.clear();
    if (g_privateDirFd >= 0) {
        ::close(g_privateDirFd);
        g_privateDirFd = -1;
    }
    return QFile::decodeName(kept);
}

} // namespace kelvo
