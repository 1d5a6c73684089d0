#include "platform/AtomicFile.h"

#include "platform/Text.h"
#include "platform/win/WinFiles.h"

#include <fcntl.h>
#include <io.h>

// Windows: the temporary file is opened without sharing, put in place with MoveFileExW (which
// replaces a link itself, never what it points to), and the permission bits are left to the
// folder's inherited access rules.

namespace kelvo {

namespace {

bool mayReplace(const QString& name)
{
    const DWORD attributes = win::attributesOf(name);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return true;
    return !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY));
}

} // namespace

bool mayBeReplaced(const QByteArray& nativePath)
{
    return mayReplace(fromNarrow(nativePath));
}

AtomicFile::AtomicFile(QString fileName, unsigned mode, Durability durability)
    : m_fileName(std::move(fileName)), m_mode(mode), m_durability(durability)
{
}

AtomicFile::~AtomicFile()
{
    abandon();
}

bool AtomicFile::open()
{
    const DWORD attributes = win::attributesOf(m_fileName);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            m_error = Error::SymbolicLink;
            return false;
        }
        if (!mayReplace(m_fileName)) {
            m_error = Error::Create;
            return false;
        }
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
        m_tempName = win::temporaryNameBeside(m_fileName);
        h = CreateFileW(win::nativeName(m_tempName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (h == INVALID_HANDLE_VALUE) {
        m_errno = int(GetLastError());
        m_tempName.clear();
        m_error = Error::Create;
        return false;
    }
    m_fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
    if (m_fd < 0) {
        CloseHandle(h);
        m_error = Error::Create;
        abandon();
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
    m_errno = int(GetLastError());
    abandon();
    return false;
}

bool AtomicFile::finishWriting()
{
    if (m_fd < 0)
        return false;
    bool ok = m_file.flush() && m_file.error() == QFileDevice::NoError;
    m_file.close();
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(m_fd));
    ok = ok && (m_durability == Durability::Scratch || FlushFileBuffers(handle));
    ok = (_close(m_fd) == 0) && ok;
    m_fd = -1;
    return ok || fail(Error::Write);
}

bool AtomicFile::commit()
{
    if (!finishWriting())
        return false;
    if (!MoveFileExW(win::nativeName(m_tempName).c_str(), win::nativeName(m_fileName).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return fail(Error::Rename);
    m_tempName.clear();
    return true;
}

bool AtomicFile::commitNew()
{
    if (!finishWriting())
        return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when anything stands at the name.
    if (!MoveFileExW(win::nativeName(m_tempName).c_str(), win::nativeName(m_fileName).c_str(),
                     MOVEFILE_WRITE_THROUGH)) {
        const DWORD error = GetLastError();
        return fail(error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Error::Exists : Error::Rename);
    }
    m_tempName.clear();
    return true;
}

void AtomicFile::abandon()
{
    if (m_file.isOpen())
        m_file.close();
    if (m_fd >= 0) {
        _close(m_fd);
        m_fd = -1;
    }
    if (!m_tempName.isEmpty()) {
        DeleteFileW(win::nativeName(m_tempName).c_str());
        m_tempName.clear();
    }
}

} // namespace kelvo
