#include "platform/AtomicFile.h"

#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

mode_t processUmask()
{
    static const mode_t mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return m;
    }();
    return mask;
}

// Descriptors of the files this run stored, each holding its mark until the process ends.
std::vector<int> g_marks;


void keepMark(int fd)
{
    if (g_marks.empty()) {
        // One descriptor per page: a long run needs more than the usual soft limit of 1024.
        rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        }
    }
    const int kept = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (kept >= 0)
        g_marks.push_back(kept);
}

} // namespace

qint64 fileClockNow()
{
    timespec t {};
    ::clock_gettime(CLOCK_REALTIME, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

namespace {
const qint64 g_processStarted = fileClockNow();
} // namespace

qint64 fileClockAtStart()
{
    return g_processStarted;
}

bool storedByAnotherRun(const QByteArray& nativePath, qint64 sinceNs)
{
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    struct stat st {};
    const bool changedSince = sinceNs > 0 && ::fstat(fd, &st) == 0
                              && qint64(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec >= sinceNs;
    ::close(fd);  // releases a lock it got
    return held || changedSince;
}

DirectoryTurn::DirectoryTurn(const QString& directory, int waitMs)
{
    m_fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0)
        return;
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= giveUp) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

DirectoryTurn::~DirectoryTurn()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool mayBeReplaced(const QByteArray& nativePath)
{
    struct stat st {};
    if (::lstat(nativePath.constData(), &st) != 0 || S_ISLNK(st.st_mode))
        return true;
    return S_ISREG(st.st_mode) && ::faccessat(AT_FDCWD, nativePath.constData(), W_OK, AT_EACCESS) == 0;
}

AtomicFile::AtomicFile(QString fileName, unsigned mode, Durability durability)
    : m_fileName(std::move(fileName)), m_mode(mode), m_durability(durability)
{
    processUmask();
}

AtomicFile::~AtomicFile()
{
    abandon();
}

bool AtomicFile::open()
{
    const QByteArray target = QFile::encodeName(m_fileName);
    struct stat st {};
    if (::lstat(target.constData(), &st) == 0) {
        if (S_ISLNK(st.st_mode)) {
            m_error = Error::SymbolicLink;
            return false;
        }
        // Refused as a file that cannot be created.
        if (!mayBeReplaced(target)) {
            m_error = Error::Create;
            return false;
        }
    }
    const QByteArray dir = QFile::encodeName(QFileInfo(m_fileName).absolutePath());
    m_fd = ::open(dir.constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    m_unnamed = m_fd >= 0;
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a hidden name short enough for any file system.
        QByteArray templ = dir + "/.KelvoBild-XXXXXX";
        m_fd = ::mkostemp(templ.data(), O_CLOEXEC);
        if (m_fd >= 0)
            m_tempName = QFile::decodeName(templ);
    }
    if (m_fd < 0) {
        m_error = Error::Create;
        m_errno = errno;
        return false;
    }
    if (!m_file.open(m_fd, QIODevice::ReadWrite, QFileDevice::DontCloseHandle)) {
        m_error = Error::Create;
        abandon();
        return false;
    }
    return true;
}

bool AtomicFile::fail(Error error)
{
    m_error = error;
    m_errno = errno;
    abandon();
    return false;
}

// Flushes, sets the mode and syncs the file; it stays open for linking.
bool AtomicFile::finishWriting()
{
    if (m_fd < 0)
        return false;
    bool ok = m_file.flush() && m_file.error() == QFileDevice::NoError;
    m_file.close();
    ok = ok && ::fchmod(m_fd, static_cast<mode_t>(m_mode) & ~processUmask()) == 0;
    ok = ok && (m_durability == Durability::Scratch || ::fsync(m_fd) == 0);
    return ok || fail(Error::Write);
}

// The mark is in place before the name appears, so no other run ever sees the file unmarked.
void AtomicFile::markBeforeLinking()
{
    if (m_mark && ::flock(m_fd, LOCK_SH | LOCK_NB) == 0)
        keepMark(m_fd);
}

bool AtomicFile::linkUnnamed(const QByteArray& name)
{
    // The unnamed file is reached through its descriptor's entry in /proc.
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(m_fd);
    if (::linkat(AT_FDCWD, self.constData(), AT_FDCWD, name.constData(), AT_SYMLINK_FOLLOW) != 0)
        return false;
    m_unnamed = false;
    return true;
}

bool AtomicFile::commit()
{
    if (!finishWriting())
        return false;
    markBeforeLinking();
    if (m_unnamed) {
        // rename() needs a name to move: a short hidden one, for the moment between the two.
        const QByteArray dir = QFile::encodeName(QFileInfo(m_fileName).absolutePath());
        for (int attempt = 0; m_unnamed && attempt < 8; ++attempt) {
            QByteArray templ = dir + "/.KelvoBild-XXXXXX";
            const int probe = ::mkostemp(templ.data(), O_CLOEXEC);  // a unique name …
            if (probe < 0)
                return fail(Error::Rename);
            ::close(probe);
            ::unlink(templ.constData());  // … taken by the link at once
            if (linkUnnamed(templ))
                m_tempName = QFile::decodeName(templ);
            else if (errno != EEXIST)
                return fail(Error::Rename);
        }
        if (m_unnamed)
            return fail(Error::Rename);
    }
    if (::rename(QFile::encodeName(m_tempName).constData(), QFile::encodeName(m_fileName).constData()) != 0)
        return fail(Error::Rename);
    m_tempName.clear();
    abandon();
    return true;
}

bool AtomicFile::commitNew()
{
    if (!finishWriting())
        return false;
    markBeforeLinking();
    const QByteArray target = QFile::encodeName(m_fileName);
    const bool linked = m_unnamed ? linkUnnamed(target)
                                  : ::link(QFile::encodeName(m_tempName).constData(), target.constData()) == 0;
    if (!linked)
        return fail(errno == EEXIST ? Error::Exists : Error::Rename);
    abandon(); // a stand-in name goes; the file stays under its own
    return true;
}

void AtomicFile::abandon()
{
    if (m_file.isOpen())
        m_file.close();
    if (m_fd >= 0) {
        ::close(m_fd);  // an unnamed file goes with its last descriptor
        m_fd = -1;
    }
    m_unnamed = false;
    if (!m_tempName.isEmpty()) {
        ::unlink(QFile::encodeName(m_tempName).constData());
        m_tempName.clear();
    }
}

} // namespace kelvo
