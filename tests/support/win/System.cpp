#include "support/System.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

#include <windows.h>
#include <aclapi.h>

namespace kelvo::test {

bool hasPosixFiles()
{
    return false;
}

bool privateToUser(const QString& path)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> user(new char[size ? size : 1]);
    const bool haveUser = size && GetTokenInformation(token, TokenUser, user.get(), size, &size);
    CloseHandle(token);
    if (!haveUser)
        return false;
    PSID me = reinterpret_cast<TOKEN_USER*>(user.get())->User.Sid;

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    if (GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return false;
    // The system itself (LocalSystem) may always enter; Wine also lists it.
    BYTE systemSid[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof systemSid;
    CreateWellKnownSid(WinLocalSystemSid, nullptr, systemSid, &systemSize);
    // A missing access list lets everybody in; each entry that allows must name the user.
    bool ok = dacl != nullptr && dacl->AceCount > 0;
    for (DWORD i = 0; ok && i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            ok = false;
        else if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            PSID sid = &reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
            ok = EqualSid(sid, me) || EqualSid(sid, systemSid);
        } else if (ace->AceType != ACCESS_DENIED_ACE_TYPE)
            ok = false;
    }
    LocalFree(descriptor);
    return ok;
}

unsigned fileMode(const QString&)
{
    return 0;
}

unsigned currentUmask()
{
    return 0;
}

bool setFileMode(const QString&, unsigned)
{
    return false;
}

bool makeFifo(const QString&)
{
    return false;
}

bool makeSymlink(const QString& target, const QString& link)
{
    return CreateSymbolicLinkW(QDir::toNativeSeparators(link).toStdWString().c_str(),
                               QDir::toNativeSeparators(target).toStdWString().c_str(),
                               SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
}

namespace {

// Wine's own export: the Unix path of a Windows one (also of a file not there yet).
QString unixPath(const QString& windowsPath)
{
    using Convert = char* (*)(const wchar_t*);
    static const auto convert = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!convert)
        return windowsPath;
    char* unix = convert(QDir::toNativeSeparators(windowsPath).toStdWString().c_str());
    if (!unix)
        return windowsPath;
    const QString path = QString::fromUtf8(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

// One argument of a Windows command line, as the C runtime splits it again.
QString quoted(const QString& arg)
{
    QString out = QStringLiteral("\"");
    int backslashes = 0;
    for (const QChar c : arg) {
        if (c == QLatin1Char('\\')) {
            ++backslashes;
            continue;
        }
        out += QString(c == QLatin1Char('"') ? 2 * backslashes + 1 : backslashes, QLatin1Char('\\'));
        backslashes = 0;
        out += c;
    }
    out += QString(2 * backslashes, QLatin1Char('\\')) + QLatin1Char('"');
    return out;
}

} // namespace

HostRun runHostTool(const QString& program, const QStringList& args, int timeoutMs, bool merged)
{
    HostRun r;
    QTemporaryDir dir;
    if (!dir.isValid())
        return r;
    // Wine starts a Unix program without a process handle: the shell leaves its output and
    // exit code in files, the exit code last.
    const QString out = unixPath(dir.filePath(QStringLiteral("out")));
    const QString err = merged ? out : unixPath(dir.filePath(QStringLiteral("err")));
    const QString code = unixPath(dir.filePath(QStringLiteral("code")));
    const QString script = QStringLiteral("PATH=/usr/local/bin:/usr/bin:/bin; \"$0\" \"$@\" </dev/null >'%1' 2>%2; "
                                          "echo $? >'%3.part'; mv '%3.part' '%3'")
                               .arg(out, merged ? QStringLiteral("&1") : QLatin1Char('\'') + err + QLatin1Char('\''), code);
    static const QRegularExpression windowsPath(QStringLiteral("^[A-Za-z]:[/\\\\]"));
    QString line = QStringLiteral("Z:\\bin\\sh -c ") + quoted(script) + QLatin1Char(' ') + quoted(program);
    for (const QString& arg : args)
        line += QLatin1Char(' ') + quoted(windowsPath.match(arg).hasMatch() ? unixPath(arg) : arg);
    std::wstring command = line.toStdWString();
    STARTUPINFOW si {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return r;
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    if (pi.hThread)
        CloseHandle(pi.hThread);
    r.started = true;
    const QString codeFile = dir.filePath(QStringLiteral("code"));
    QDeadlineTimer deadline(timeoutMs);
    while (!QFile::exists(codeFile) && !deadline.hasExpired())
        QThread::msleep(10);
    QFile c(codeFile);
    if (!c.open(QIODevice::ReadOnly))
        return r;
    r.exitCode = c.readAll().trimmed().toInt();
    QFile o(dir.filePath(QStringLiteral("out")));
    if (o.open(QIODevice::ReadOnly))
        r.out = o.readAll();
    QFile e(dir.filePath(QStringLiteral("err")));
    if (!merged && e.open(QIODevice::ReadOnly))
        r.err = e.readAll();
    return r;
}

bool runningAsRoot()
{
    return false;
}

bool withFileSizeLimit(long long, const std::function<void()>&)
{
    return false;
}

} // namespace kelvo::test
