#include "platform/Text.h"

#include <windows.h>

namespace kelvo {

// Narrow text is the system code page (CP_ACP), converted by Windows itself: a character the
// code page cannot hold becomes its best-fit look-alike or the default character.
QByteArray toNarrow(const QString& s)
{
    if (s.isEmpty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(s.utf16());
    const int n = WideCharToMultiByte(CP_ACP, 0, wide, int(s.size()), nullptr, 0, nullptr, nullptr);
    QByteArray out(n, Qt::Uninitialized);
    WideCharToMultiByte(CP_ACP, 0, wide, int(s.size()), out.data(), n, nullptr, nullptr);
    return out;
}

QString fromNarrow(const QByteArray& s)
{
    if (s.isEmpty())
        return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, s.constData(), int(s.size()), nullptr, 0);
    QString out(n, Qt::Uninitialized);
    MultiByteToWideChar(CP_ACP, 0, s.constData(), int(s.size()), reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

QString upperNarrow(const QString& s)
{
    // Upper-cased in the code page, by the system's rules for it.
    QByteArray narrow = toNarrow(s);
    if (!narrow.isEmpty())
        CharUpperBuffA(narrow.data(), DWORD(narrow.size()));
    return fromNarrow(narrow);
}

bool isExactNarrow(const QByteArray& bytes)
{
    return toNarrow(fromNarrow(bytes)) == bytes;
}

} // namespace kelvo
