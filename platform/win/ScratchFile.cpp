// The scratch file on Windows: a file of a unique name in the folder that nobody may open
// beside this process (no sharing) and that Windows deletes when it is closed, also after a crash.
#include "platform/ScratchFile.h"

#include "platform/win/WinFiles.h"

#include <QFile>
#include <QRandomGenerator>

#include <fcntl.h>
#include <algorithm>
#include <io.h>
#include <windows.h>

namespace kelvo {

std::unique_ptr<ScratchFile> ScratchFile::create(const QByteArray& folder)
{
    if (folder.isEmpty() || folder.contains('\0'))
        return nullptr;
    const QString dir = QFile::decodeName(folder);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString name = dir + QStringLiteral("/.KelvoBild-scratch-%1")
                                       .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
        HANDLE h = CreateFileW(win::nativeName(name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return nullptr;
        }
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_RDWR);
        if (fd < 0) {
            CloseHandle(h);
            return nullptr;
        }
        return std::unique_ptr<ScratchFile>(new ScratchFile(fd));
    }
    return nullptr;
}

ScratchFile::~ScratchFile()
{
    _close(fd_);
}

bool ScratchFile::append(const std::string& bytes, std::uint64_t& offset)
{
    offset = size_;
    if (_lseeki64(fd_, static_cast<__int64>(size_), SEEK_SET) < 0)
        return false;
    for (std::size_t done = 0; done < bytes.size();) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        const int n = _write(fd_, bytes.data() + done, chunk);
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
    if (_lseeki64(fd_, static_cast<__int64>(offset), SEEK_SET) < 0)
        return false;
    for (std::size_t done = 0; done < size;) {
        const unsigned chunk = static_cast<unsigned>(std::min<std::size_t>(size - done, 1u << 30));
        const int n = _read(fd_, buffer + done, chunk);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace kelvo
