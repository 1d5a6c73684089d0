#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QRandomGenerator>

#include <memory>
#include <string>

#include <windows.h>
#include <sddl.h>

namespace kelvo {

namespace {

const wchar_t* wide(const QString& s)
{
    return reinterpret_cast<const wchar_t*>(s.utf16());
}

QString g_privateDir; // this process's own directory, empty when none
// Held open, without delete sharing, while the directory is ours: a later run that can open
// it exclusively knows its owner has gone.
HANDLE g_privateDirHandle = INVALID_HANDLE_VALUE;

HANDLE openDirectory(const QString& dir, DWORD share)
{
    return CreateFileW(QDir::toNativeSeparators(dir).toStdWString().c_str(), FILE_LIST_DIRECTORY, share, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Removes the plain files in `dir` and then `dir`; no recursion, links removed as links.
void removeDirectory(const QString& dir)
{
    const QString native = QDir::toNativeSeparators(dir);
    WIN32_FIND_DATAW entry {};
    HANDLE find = FindFirstFileW(wide(native + QLatin1String("\\*")), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const QString name = QString::fromWCharArray(entry.cFileName);
            if (name == QLatin1String(".") || name == QLatin1String(".."))
                continue;
            const QString path = native + QLatin1Char('\\') + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveDirectoryW(wide(path));
            else
                DeleteFileW(wide(path));
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(wide(native));
}

bool isRoot(const QString& dir)
{
    // "C:", "C:\", "\" and "\\server\share" name no folder of their own.
    const QString d = QDir::fromNativeSeparators(dir);
    return d.isEmpty() || d == QLatin1String("/") || (d.size() <= 3 && d.size() >= 2 && d[1] == QLatin1Char(':'))
        || QDir(d).isRoot();
}

// The SDDL string of a DACL that lets only the current user in, inherited by what is created
// inside; empty when the user cannot be found out.
std::wstring ownerOnlyAcl()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
    std::wstring acl;
    if (size && GetTokenInformation(token, TokenUser, buffer.get(), size, &size)) {
        wchar_t* sid = nullptr;
        if (ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid, &sid)) {
            acl = std::wstring(L"D:P(A;OICI;FA;;;") + sid + L")";
            LocalFree(sid);
        }
    }
    CloseHandle(token);
    return acl;
}

} // namespace

QString executableDir()
{
    return QCoreApplication::applicationDirPath();
}

QString tempDir()
{
    QString tmp = QDir::fromNativeSeparators(qEnvironmentVariable("TMP"));
    while (tmp.size() > 1 && tmp.endsWith(QLatin1Char('/')))
        tmp.chop(1);
    if (isRoot(tmp)) {
        // The user's own temporary folder.
        wchar_t buffer[MAX_PATH + 1];
        const DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
        tmp = n ? QDir::fromNativeSeparators(QString::fromWCharArray(buffer, int(n))) : QString();
        while (tmp.size() > 1 && tmp.endsWith(QLatin1Char('/')))
            tmp.chop(1);
    }
    if (isRoot(tmp))
        tmp = QDir::tempPath();
    return tmp;
}

QString privateTempDir()
{
    if (!g_privateDir.isEmpty())
        return g_privateDir;
    // Only the current user may enter; CreateDirectoryW fails on any name that exists,
    // a link or junction included, so nothing prepared by someone else is used.
    const std::wstring acl = ownerOnlyAcl();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (acl.empty()
        || !ConvertStringSecurityDescriptorToSecurityDescriptorW(acl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
        return {};
    SECURITY_ATTRIBUTES attributes {sizeof attributes, descriptor, FALSE};
    const QString base = tempDir();
    for (int attempt = 0; attempt < 100 && g_privateDir.isEmpty(); ++attempt) {
        const QString name = base + QStringLiteral("/KelvoBild-%1")
                                        .arg(QRandomGenerator::system()->generate(), 8, 16, QLatin1Char('0'));
        if (CreateDirectoryW(wide(QDir::toNativeSeparators(name)), &attributes)) {
            g_privateDir = name;
            g_privateDirHandle = openDirectory(name, FILE_SHARE_READ | FILE_SHARE_WRITE);
        }
        else if (GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    LocalFree(descriptor);
    return g_privateDir;
}

void removePrivateTempDir()
{
    if (g_privateDir.isEmpty())
        return;
    if (g_privateDirHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(g_privateDirHandle);
        g_privateDirHandle = INVALID_HANDLE_VALUE;
    }
    removeDirectory(g_privateDir);
    g_privateDir.clear();
}

QString keepPrivateTempDir()
{
    if (g_privateDir.isEmpty())
        return {};
    if (QDir(g_privateDir).isEmpty()) {
        removePrivateTempDir();
        return {};
    }
    if (g_privateDirHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(g_privateDirHandle);
        g_privateDirHandle = INVALID_HANDLE_VALUE;
    }
    // Out of the pattern that removeAbandonedTempDirs() takes; never over someone else's name.
    QString kept = g_privateDir + QStringLiteral("-Seiten");
    if (!MoveFileExW(wide(QDir::toNativeSeparators(g_privateDir)), wide(QDir::toNativeSeparators(kept)), 0))
        kept = g_privateDir;
    g_privateDir.clear();
    return kept;
}

void removeAbandonedTempDirs()
{
    // A living run holds its directory open without delete sharing; one that opens without any
    // sharing has no owner left. Other users' directories cannot be opened at all.
    const QString base = tempDir();
    const QStringList names = QDir(base).entryList({QStringLiteral("KelvoBild-*")}, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& name : names) {
        const QString dir = base + QLatin1Char('/') + name;
        if (dir == g_privateDir)
            continue;
        const DWORD attributes = GetFileAttributesW(wide(QDir::toNativeSeparators(dir)));
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        HANDLE h = openDirectory(dir, 0);
        if (h == INVALID_HANDLE_VALUE)
            continue;
        CloseHandle(h);
        removeDirectory(dir);
    }
}

} // namespace kelvo
