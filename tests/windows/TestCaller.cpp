// kelvo-caller.exe: a calling application for the tests. It owns a top-level window of the
// class TFormTelnetMain (and, on request, one of TFormCommMain), starts the program with the
// command line given after "--" as such an application does, and writes down every
// "KELVODATA1" message that reaches one of its windows, with the text of the section
// "KELVODATA1" as it was while the message was being handled.
//
//   kelvo-caller.exe [--telnet|--no-telnet] [--comm] [--out FILE] [--timeout SECONDS]
//                    [--answer CAPTION=yes,no,…] -- COMMAND LINE
//
// --answer plays the user: each time a window of the program with that caption shows (a
// question such as "Scan in PDF"), the next answer is given, yes with Enter (the default
// button), no with Escape; a further window gets no answer.
//
// Standard output, one line per message: "message <class> <wParam> <lParam> <hex of the
// wParam bytes of the section>", then "exit <exit code of the program>". --out FILE receives
// the section bytes of the last message, exactly. Exit code 0 when the program ran to its
// end (whatever it returned), 3 when it had to be stopped after the timeout, 4 when it could
// not be started, 2 on a bad command line.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

UINT g_message = 0;
std::wstring g_out;

struct Received {
    std::wstring windowClass;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    std::string text;
};
std::vector<Received> g_received;

struct Answers {
    std::wstring caption;
    std::vector<bool> yes; // in order of appearance
    size_t given = 0;
    HWND answered = nullptr; // the window answered last, until it has gone
};
Answers g_answers;

struct Search {
    DWORD process;
    const std::wstring* caption;
    HWND found;
};

BOOL CALLBACK findQuestion(HWND hwnd, LPARAM param)
{
    auto* s = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    wchar_t title[128] = {};
    GetWindowTextW(hwnd, title, 128);
    if (owner == s->process && IsWindowVisible(hwnd) && *s->caption == title) {
        s->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

void answerQuestions(DWORD process)
{
    if (g_answers.caption.empty())
        return;
    Search s{process, &g_answers.caption, nullptr};
    EnumWindows(findQuestion, reinterpret_cast<LPARAM>(&s));
    if (!s.found) {
        g_answers.answered = nullptr;
        return;
    }
    if (s.found == g_answers.answered || g_answers.given >= g_answers.yes.size())
        return;
    const WPARAM key = g_answers.yes[g_answers.given++] ? VK_RETURN : VK_ESCAPE;
    SetForegroundWindow(s.found);
    PostMessageW(s.found, WM_KEYDOWN, key, 1);
    PostMessageW(s.found, WM_KEYUP, key, 0xC0000001);
    g_answers.answered = s.found;
    std::printf("answer %ls %s\n", g_answers.caption.c_str(), key == VK_RETURN ? "yes" : "no");
}

std::string readSection(size_t length)
{
    HANDLE mapping = OpenFileMappingW(FILE_MAP_READ, FALSE, L"KELVODATA1");
    if (!mapping)
        return std::string();
    std::string text;
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
        MEMORY_BASIC_INFORMATION info{};
        VirtualQuery(view, &info, sizeof info);
        // Never read past the section, whatever length the message claims.
        const size_t readable = info.RegionSize < length ? info.RegionSize : length;
        text.assign(static_cast<const char*>(view), readable);
        UnmapViewOfFile(view);
    }
    CloseHandle(mapping);
    return text;
}

LRESULT CALLBACK windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == g_message && g_message != 0) {
        Received r;
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        r.windowClass = name;
        r.wParam = wParam;
        r.lParam = lParam;
        r.text = readSection(wParam);
        g_received.push_back(r);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

HWND makeWindow(const wchar_t* className)
{
    WNDCLASSW wc{};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = className;
    RegisterClassW(&wc);
    // Top-level and never shown: FindWindowW finds hidden windows as well.
    return CreateWindowExW(0, className, className, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                           wc.hInstance, nullptr);
}

// The raw command line after the first " -- ", as typed by whoever started this program.
const wchar_t* commandAfterSeparator()
{
    const wchar_t* all = GetCommandLineW();
    const wchar_t* sep = std::wcsstr(all, L" -- ");
    return sep ? sep + 4 : nullptr;
}

int usage()
{
    std::fprintf(stderr, "usage: kelvo-caller.exe [--telnet|--no-telnet] [--comm] [--out FILE] "
                         "[--timeout SECONDS] [--answer CAPTION=yes,no,...] -- COMMAND LINE\n");
    return 2;
}

} // namespace

int main()
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    bool telnet = true, comm = false;
    DWORD timeoutMs = 120000;
    int i = 1;
    for (; i < argc; ++i) {
        const std::wstring a = argv[i];
        if (a == L"--")
            break;
        if (a == L"--telnet")
            telnet = true;
        else if (a == L"--no-telnet")
            telnet = false;
        else if (a == L"--comm")
            comm = true;
        else if (a == L"--out" && i + 1 < argc)
            g_out = argv[++i];
        else if (a == L"--answer" && i + 1 < argc) {
            const std::wstring given = argv[++i];
            const size_t eq = given.find(L'=');
            if (eq == std::wstring::npos)
                return usage();
            g_answers.caption = given.substr(0, eq);
            for (size_t at = eq + 1; at <= given.size();) {
                size_t comma = given.find(L',', at);
                if (comma == std::wstring::npos)
                    comma = given.size();
                g_answers.yes.push_back(given.compare(at, comma - at, L"yes") == 0);
                at = comma + 1;
            }
        } else if (a == L"--timeout" && i + 1 < argc)
            timeoutMs = DWORD(_wtoi(argv[++i])) * 1000;
        else
            return usage();
    }
    const wchar_t* command = commandAfterSeparator();
    if (i >= argc || !command)
        return usage();

    g_message = RegisterWindowMessageW(L"KELVODATA1");
    if (telnet)
        makeWindow(L"TFormTelnetMain");
    if (comm)
        makeWindow(L"TFormCommMain");

    // A calling application runs on a desktop: the program shows its windows and boxes there,
    // whatever platform the test prefix gives the suite's other programs.
    SetEnvironmentVariableW(L"QT_QPA_PLATFORM", L"windows");
    std::wstring line = command; // CreateProcessW may write into its command line
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start the program (error %lu)\n", GetLastError());
        return 4;
    }
    CloseHandle(pi.hThread);

    const DWORD start = GetTickCount();
    bool timedOut = false;
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeoutMs) {
            timedOut = true;
            break;
        }
        const DWORD wait = timeoutMs - elapsed < 200 ? timeoutMs - elapsed : 200;
        const DWORD r = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, wait, QS_ALLINPUT);
        if (r == WAIT_OBJECT_0)
            break;
        answerQuestions(pi.dwProcessId);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    // Messages sent just before the program ended.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageW(&msg);

    DWORD exitCode = 0;
    if (timedOut) {
        TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, 5000);
    }
    GetExitCodeProcess(pi.hProcess, &exitCode);
    CloseHandle(pi.hProcess);

    for (const Received& r : g_received) {
        std::printf("message %ls %llu %lld ", r.windowClass.c_str(), static_cast<unsigned long long>(r.wParam),
                    static_cast<long long>(r.lParam));
        for (unsigned char c : r.text)
            std::printf("%02x", c);
        std::printf("\n");
    }
    if (!g_out.empty() && !g_received.empty()) {
        if (FILE* f = _wfopen(g_out.c_str(), L"wb")) {
            std::fwrite(g_received.back().text.data(), 1, g_received.back().text.size(), f);
            std::fclose(f);
        }
    }
    std::printf("exit %lu\n", exitCode);
    std::fflush(stdout);
    return timedOut ? 3 : 0;
}
