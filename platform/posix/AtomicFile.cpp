#include "platform/AtomicFile.h"

#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
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

} // namespace

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
    const QFileInfo fi(m_fileName);
    QByteArray templ = QFile::encodeName(fi.absolutePath() + QLatin1String("/.") + fi.fileName())
                       + ".XXXXXX";
    m_fd = ::mkostemp(templ.data(), O_CLOEXEC);
    if (m_fd < 0) {
        m_error = Error::Create;
        m_errno = errno;
        return false;
    }
    m_tempName = QFile::decodeName(templ);
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

// Flushes, sets the mode, syncs and closes the temporary file.
bool AtomicFile::finishWriting()
{
    if (m_fd < 0)
        return false;
    bool ok = m_file.flush() && m_file.error() == QFileDevice::NoError;
    m_file.close();
    ok = ok && ::fchmod(m_fd, static_cast<mode_t>(m_mode) & ~processUmask()) == 0;
    ok = ok && (m_durability == Durability::Scratch || ::fsync(m_fd) == 0);
    ok = (::close(m_fd) == 0) && ok;
    m_fd = -1;
    return ok || fail(Error::Write);
}

bool AtomicFile::commit()
{
    if (!finishWriting())
        return false;
    if (::rename(QFile::encodeName(m_tempName).constData(), QFile::encodeName(m_fileName).constData()) != 0)
        return fail(Error::Rename);
    m_tempName.clear();
    return true;
}

bool AtomicFile::commitNew()
{
    if (!finishWriting())
        return false;
    if (::link(QFile::encodeName(m_tempName).constData(), QFile::encodeName(m_fileName).constData()) != 0)
        return fail(errno == EEXIST ? Error::Exists : Error::Rename);
    abandon(); // the temporary name goes; the file stays under its own
    return true;
}

void AtomicFile::abandon()
{
    if (m_file.isOpen())
        m_file.close();
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_tempName.isEmpty()) {
        ::unlink(QFile::encodeName(m_tempName).constData());
        m_tempName.clear();
    }
}

} // namespace kelvo
