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

QString g_privateDir; // this process's own directory, empty when none

const wchar_t* wide(const QString& s)
{
    return reinterpret_cast<const wchar_t*>(s.utf16());
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
        if (CreateDirectoryW(wide(QDir::toNativeSeparators(name)), &attributes))
            g_privateDir = name;
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
    // Only plain names of our own making are inside; no recursion. Deleting a link removes
    // the link, never what it points to.
    const QString native = QDir::toNativeSeparators(g_privateDir);
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
    g_privateDir.clear();
}

} // namespace kelvo
