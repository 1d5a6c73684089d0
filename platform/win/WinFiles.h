// Helpers of the Windows file code: UTF-16 names for Win32 and the system's message for an
// error code.
#pragma once

#include <QDir>
#include <QString>

#include <windows.h>

namespace kelvo::win {

// The name as Win32 takes it: backslashes, UTF-16.
inline std::wstring nativeName(const QString& name)
{
    return QDir::toNativeSeparators(name).toStdWString();
}

inline QString errorText(DWORD code)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString s = text ? QString::fromWCharArray(text).trimmed() : QString();
    if (text)
        LocalFree(text);
    return s.isEmpty() ? QStringLiteral("Fehler %1").arg(code) : s;
}

// Whether anything stands at the name, and what: its attributes, of the link itself when it
// is one (never followed). INVALID_FILE_ATTRIBUTES when nothing is there.
inline DWORD attributesOf(const QString& name)
{
    return GetFileAttributesW(nativeName(name).c_str());
}

// A name nobody holds yet next to `target`: ".<name>.<8 hex digits>".
QString temporaryNameBeside(const QString& target);

} // namespace kelvo::win
