#include "platform/FileSystem.h"

#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

mode_t currentUmask()
{
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, f))
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(f);
        if (found)
            return static_cast<mode_t>(mask);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace

bool entryExists(const QString& name)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(name).constData(), &st) == 0;
}

OpenResult openRegularFile(const QString& fileName, QFile& file)
{
    const QByteArray native = QFile::encodeName(fileName);
    struct stat st {};
    if (native.isEmpty() || ::stat(native.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return OpenResult::Missing;
    const int fd = ::open(native.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return OpenResult::Unreadable;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return OpenResult::Missing;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return OpenResult::Unreadable;
    }
    return OpenResult::Opened;
}

bool createNewFile(const QString& path, const QByteArray& bytes, bool* exists, QString* why)
{
    // Written under a temporary name, then linked to the name: link() fails when anything
    // stands there, and a reader never sees a part of the file.
    AtomicFile file(path, 0644, AtomicFile::Durability::Scratch);
    if (file.open() && file.device().write(bytes) == bytes.size() && file.commitNew())
        return true;
    *exists = entryExists(path);
    *why = QString::fromLocal8Bit(std::strerror(file.systemError() ? file.systemError() : EIO));
    return false;
}

bool writeReplacing(const QString& targetName, const std::function<bool(std::FILE*, const char*)>& write)
{
    const QByteArray target = QFile::encodeName(targetName);
    if (target.isEmpty() || target.endsWith('/') || target.contains('\0'))
        return false;
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray dir = slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : target.left(slash);
    const QByteArray base = target.mid(slash + 1);
    if (base == "." || base == "..")
        return false;
    if (!mayBeReplaced(target))
        return false;

    // Keep the temporary name within the file-name limit.
    QByteArray tmpl = dir + "/." + base.left(200) + ".XXXXXX";
    std::vector<char> tmpName(tmpl.constData(), tmpl.constData() + tmpl.size() + 1);
    const int fd = ::mkostemp(tmpName.data(), O_CLOEXEC);
    if (fd < 0)
        return false;

    bool ok = false;
    FILE* fp = ::fdopen(fd, "wb");
    if (!fp) {
        ::close(fd);
    } else {
        ok = write(fp, tmpName.data());
        // qpdf does not notice a full disk: check the flush, the size, the sync and the close.
        ok = ok && std::fflush(fp) == 0 && !std::ferror(fp);
        const off_t written = ok ? ::ftello(fp) : -1;
        struct stat st {};
        ok = ok && written > 0 && ::fstat(fd, &st) == 0 && st.st_size == written;
        ok = ok && ::fchmod(fd, 0666 & ~currentUmask()) == 0;
        ok = ok && ::fsync(fd) == 0;
        if (std::fclose(fp) != 0)
            ok = false;
    }

    ok = ok && ::rename(tmpName.data(), target.constData()) == 0;
    if (!ok) {
        ::unlink(tmpName.data());
        return false;
    }
    // Make the new directory entry durable as well; the file itself is complete already.
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace kelvo
