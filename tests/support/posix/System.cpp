#include "support/System.h"

#include <QFile>
#include <QProcess>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo::test {

bool hasPosixFiles()
{
    return true;
}

bool privateToUser(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_uid == ::geteuid()
        && (st.st_mode & 077) == 0;
}

unsigned fileMode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

unsigned currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

bool setFileMode(const QString& path, unsigned mode)
{
    return ::chmod(QFile::encodeName(path).constData(), static_cast<mode_t>(mode)) == 0;
}

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

bool makeSymlink(const QString& target, const QString& link)
{
    return QFile::link(target, link);
}

HostRun runHostTool(const QString& program, const QStringList& args, int timeoutMs, bool merged)
{
    QProcess p;
    if (merged)
        p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    HostRun r;
    if (!p.waitForStarted(timeoutMs))
        return r;
    r.started = true;
    if (!p.waitForFinished(timeoutMs))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

bool withFileSizeLimit(long long bytes, const std::function<void()>& fn)
{
    struct rlimit old {};
    if (::getrlimit(RLIMIT_FSIZE, &old) != 0)
        return false;
    struct rlimit small = old;
    small.rlim_cur = static_cast<rlim_t>(bytes);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    const bool set = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    if (set)
        fn();
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    return set;
}

} // namespace kelvo::test
