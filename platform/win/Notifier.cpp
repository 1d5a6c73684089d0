#include "platform/Notifier.h"

#include <algorithm>
#include <cstdio>

#include <windows.h>

namespace kelvo {

namespace {

// The calling application's main window classes, in the order they are looked for.
constexpr const wchar_t* kPrimaryClass = L"TFormTelnetMain";
constexpr const wchar_t* kFallbackClass = L"TFormCommMain";
// The registered message and the named section that carries the text.
constexpr const wchar_t* kName = L"KELVODATA1";
// The section is never smaller than the size the calling application has always seen.
constexpr DWORD kMinSectionSize = 20;
// A receiver that stops answering does not hold a finished scan's program forever.
constexpr UINT kSendTimeoutMs = 60000;

// The section and its view stay until the process ends: the receiver may read the text after
// our message has returned. A later notification writes to the same view.
HANDLE g_section = nullptr;
void* g_view = nullptr;
SIZE_T g_viewSize = 0;

bool writeSection(const QByteArray& text)
{
    const DWORD needed = std::max<DWORD>(kMinSectionSize, DWORD(text.size()));
    if (!g_view) {
        // A section that exists already (a caller made it, or an earlier run of ours that is
        // still going) keeps the size it was made with; the view tells how much there is.
        HANDLE section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, needed, kName);
        if (!section)
            return false;
        void* view = MapViewOfFile(section, FILE_MAP_WRITE, 0, 0, 0);
        if (!view) {
            CloseHandle(section);
            return false;
        }
        MEMORY_BASIC_INFORMATION info {};
        VirtualQuery(view, &info, sizeof info);
        g_section = section;
        g_view = view;
        g_viewSize = info.RegionSize;
    }
    if (g_viewSize < SIZE_T(text.size())) {
        std::fprintf(stderr, "KELVODATA1: der Abschnitt fasst %llu Bytes, der Text hat %lld, keine Benachrichtigung\n",
                     static_cast<unsigned long long>(g_viewSize), static_cast<long long>(text.size()));
        std::fflush(stderr);
        return false;
    }
    if (!text.isEmpty())
        CopyMemory(g_view, text.constData(), SIZE_T(text.size()));
    return true;
}

} // namespace

void SystemNotifier::notify(const QByteArray& text)
{
    HWND receiver = FindWindowW(kPrimaryClass, nullptr);
    if (!receiver)
        receiver = FindWindowW(kFallbackClass, nullptr);
    if (!receiver)
        return;
    const UINT message = RegisterWindowMessageW(kName);
    if (message == 0)
        return;
    if (!writeSection(text))
        return;
    // Synchronous, so the receiver reads the section while it handles the message.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(receiver, message, WPARAM(text.size()), 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        kSendTimeoutMs, &result);
}

} // namespace kelvo
