#include "scan/PdfSpool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace kelvo {

namespace {

// A file without a name in `dir`, mode 0600, that cannot be linked into the file system; where
// the file system has no such files, a hidden one made under a unique name and unlinked at once.
int openNamelessFile(const QByteArray& dir)
{
    if (dir.isEmpty())
        return -1;
    int fd = ::open(dir.constData(), O_TMPFILE | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    QByteArray name = dir + "/.KelvoBild-pdf-XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC); // mode 0600
    if (fd >= 0)
        ::unlink(name.constData());
    return fd;
}

} // namespace

class PdfSpool::File final : public PdfEnginePictureSource {
public:
    explicit File(int fd) : fd_(fd) {}
    ~File() { ::close(fd_); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Appends all bytes at the end; false when they do not all fit.
    bool append(const std::string& bytes, std::uint64_t& offset)
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

    bool read(std::uint64_t offset, char* buffer, std::size_t size) override
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

private:
    int fd_;
    std::uint64_t size_ = 0; // bytes of whole pictures; a picture that did not fit is overwritten
};

PdfSpool::PdfSpool(std::vector<QByteArray> directories) : directories_(std::move(directories)) {}

PdfSpool::~PdfSpool() = default;

PdfSpool::Place PdfSpool::append(const std::string& bytes)
{
    for (;;) {
        std::uint64_t offset = 0;
        if (!files_.empty() && files_.back()->append(bytes, offset))
            return {files_.back().get(), offset};
        // The current folder cannot take it: the next one takes this picture and the later ones.
        int fd = -1;
        while (fd < 0 && !directories_.empty()) {
            fd = openNamelessFile(directories_.front());
            directories_.erase(directories_.begin());
        }
        if (fd < 0)
            return {};
        files_.push_back(std::make_unique<File>(fd));
    }
}

} // namespace kelvo
