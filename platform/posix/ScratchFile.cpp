#include "platform/ScratchFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo {

std::unique_ptr<ScratchFile> ScratchFile::create(const QByteArray& folder)
{
    if (folder.isEmpty() || folder.contains('\0'))
        return nullptr;
    // O_EXCL: the file can never be given a name through /proc either.
    int fd = ::open(folder.constData(), O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without nameless files: a hidden unique name, gone at once.
        QByteArray name = folder + "/.KelvoBild-scratch-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC); // mode 0600
        if (fd >= 0)
            ::unlink(name.constData());
    }
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<ScratchFile>(new ScratchFile(fd));
}

ScratchFile::~ScratchFile()
{
    ::close(fd_);
}

bool ScratchFile::append(const std::string& bytes, std::uint64_t& offset)
{
    offset = size_;
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(size_ + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    size_ += bytes.size();
    return true;
}

bool ScratchFile::read(std::uint64_t offset, char* buffer, std::size_t size) const
{
    if (offset > size_ || size > size_ - offset)
        return false;
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::pread(fd_, buffer + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace kelvo
