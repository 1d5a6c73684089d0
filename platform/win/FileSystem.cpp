#include "platform/FileSystem.h"

#include "platform/AtomicFile.h"
#include "platform/Text.h"
#include "platform/win/WinFiles.h"

#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <io.h>

namespace kelvo {

namespace win {

QString temporaryNameBeside(const QString& target)
{
    const QFileInfo fi(target);
    return fi.absolutePath() + QLatin1String("/.") + fi.fileName().left(200)
         + QStringLiteral(".%1").arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
}

} // namespace win

using win::attributesOf;
using win::nativeName;

bool entryExists(const QString& name)
{
    return !name.isEmpty() && attributesOf(name) != INVALID_FILE_ATTRIBUTES;
}

OpenResult openRegularFile(const QString& fileName, QFile& file)
{
    const DWORD attributes = fileName.isEmpty() ? INVALID_FILE_ATTRIBUTES : attributesOf(fileName);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)))
        return OpenResult::Missing;
    // Others may go on reading, writing or renaming it while it is shown.
    HANDLE h = CreateFileW(nativeName(fileName).c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return OpenResult::Unreadable;
    // A pipe, a console or a device (CON, COM1, \\.\pipe\…) is no image file.
    BY_HANDLE_FILE_INFORMATION info {};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(h);
        return OpenResult::Missing;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return OpenResult::Unreadable;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        _close(fd);
        return OpenResult::Unreadable;
    }
    return OpenResult::Opened;
}

bool createNewFile(const QString& path, const QByteArray& bytes, bool* exists, QString* why)
{
    // Created only when nothing stands at the name, and opened without sharing: nobody can
    // open it before it is complete and closed.
    HANDLE h = CreateFileW(nativeName(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        *exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        *why = win::errorText(error);
        return false;
    }
    DWORD written = 0;
    const bool ok = WriteFile(h, bytes.constData(), DWORD(bytes.size()), &written, nullptr)
                 && written == DWORD(bytes.size());
    const DWORD error = GetLastError();
    CloseHandle(h);
    if (!ok) {
        // A part of the record would block every later hand-off: it goes again.
        DeleteFileW(nativeName(path).c_str());
        *exists = false;
        *why = win::errorText(error ? error : ERROR_WRITE_FAULT);
    }
    return ok;
}

bool writeReplacing(const QString& target, const std::function<bool(std::FILE*, const char*)>& write)
{
    const QFileInfo fi(target);
    if (target.isEmpty() || fi.fileName().isEmpty() || fi.fileName() == QLatin1String(".")
        || fi.fileName() == QLatin1String(".."))
        return false;
    if (!mayBeReplaced(toNarrow(target)))
        return false;

    QString temp;
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        temp = win::temporaryNameBeside(target);
        h = CreateFileW(nativeName(temp).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = false;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    FILE* fp = fd >= 0 ? _fdopen(fd, "wb") : nullptr;
    if (!fp) {
        if (fd >= 0)
            _close(fd);
        else
            CloseHandle(h);
    } else {
        ok = write(fp, toNarrow(QDir::toNativeSeparators(temp)).constData());
        // qpdf does not notice a full disk: check the flush, the size, the sync and the close.
        ok = ok && std::fflush(fp) == 0 && !std::ferror(fp);
        const long long written = ok ? _ftelli64(fp) : -1;
        LARGE_INTEGER size {};
        ok = ok && written > 0 && GetFileSizeEx(h, &size) && size.QuadPart == written;
        ok = ok && FlushFileBuffers(h);
        if (std::fclose(fp) != 0)
            ok = false;
    }
    ok = ok && MoveFileExW(nativeName(temp).c_str(), nativeName(target).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok)
        DeleteFileW(nativeName(temp).c_str());
    return ok;
}

} // namespace kelvo
