#include "support/System.h"

#include <QDir>

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

bool runningAsRoot()
{
    return false;
}

bool withFileSizeLimit(long long, const std::function<void()>&)
{
    return false;
}

} // namespace kelvo::test
