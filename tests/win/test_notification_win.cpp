// The Windows notification: the window classes looked for, the registered message, the
// named mapping "KELVODATA1" and what the receiver finds in it while it handles the message.
#include "platform/Notifier.h"
#include "scan/HandOff.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include <windows.h>

namespace {

struct Received {
    std::wstring windowClass;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    QByteArray section; // the first wParam bytes of the mapping, read inside the handler
};
std::vector<Received> g_received;

LRESULT CALLBACK receiver(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    static const UINT kelvo = RegisterWindowMessageW(L"KELVODATA1");
    if (msg == kelvo) {
        Received r;
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        r.windowClass = name;
        r.wParam = wParam;
        r.lParam = lParam;
        if (HANDLE h = OpenFileMappingW(FILE_MAP_READ, FALSE, L"KELVODATA1")) {
            if (const void* view = MapViewOfFile(h, FILE_MAP_READ, 0, 0, 0)) {
                r.section = QByteArray(static_cast<const char*>(view), static_cast<qsizetype>(wParam));
                UnmapViewOfFile(view);
            }
            CloseHandle(h);
        }
        g_received.push_back(r);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A top-level window of the calling application's class, gone at the end of the scope.
class CallerWindow {
public:
    explicit CallerWindow(const wchar_t* windowClass) : m_class(windowClass)
    {
        WNDCLASSW wc {};
        wc.lpfnWndProc = receiver;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = windowClass;
        RegisterClassW(&wc);
        m_hwnd = CreateWindowExW(0, windowClass, L"Aufrufer", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr,
                                 wc.hInstance, nullptr);
    }
    ~CallerWindow()
    {
        DestroyWindow(m_hwnd);
        UnregisterClassW(m_class, GetModuleHandleW(nullptr));
    }
    bool valid() const { return m_hwnd != nullptr; }

private:
    const wchar_t* m_class;
    HWND m_hwnd = nullptr;
};

TEST(WindowsNotification, ReachesTheCallersWindowWithTheTextInTheMapping)
{
    const QByteArray text = kelvo::notificationText(kelvo::handOffRecord("C:\\Scans\\Bild03.JPG", 3, "S"));
    const QByteArray longText = kelvo::notificationText(kelvo::handOffRecord(QByteArray(250, 'x'), 12, "S"));
    const struct {
        const char* label;
        bool telnet;
        bool comm;
        QByteArray text;
        const wchar_t* expectedClass; // null: nobody receives it
    } cases[] = {
        {"only TFormCommMain", false, true, text, L"TFormCommMain"},
        {"both: TFormTelnetMain alone", true, true, text, L"TFormTelnetMain"},
        {"only TFormTelnetMain", true, false, text, L"TFormTelnetMain"},
        {"longer than 20 bytes by far", true, false, longText, L"TFormTelnetMain"},
        {"no receiver", false, false, text, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::optional<CallerWindow> telnet, comm;
        if (c.telnet)
            telnet.emplace(L"TFormTelnetMain");
        if (c.comm)
            comm.emplace(L"TFormCommMain");
        g_received.clear();
        kelvo::SystemNotifier notifier;
        notifier.notify(c.text);
        if (!c.expectedClass) {
            EXPECT_TRUE(g_received.empty());
            continue;
        }
        ASSERT_EQ(g_received.size(), 1u);
        EXPECT_EQ(g_received[0].windowClass, std::wstring(c.expectedClass));
        EXPECT_EQ(g_received[0].wParam, static_cast<WPARAM>(c.text.size()));
        EXPECT_EQ(g_received[0].lParam, 0);
        EXPECT_EQ(g_received[0].section, c.text);
    }
    // The example the calling applications were written against: 32 bytes, 0x04 at both ends.
    EXPECT_EQ(text.size(), 32);
}

} // namespace
