#include "scanner/twain/TwainDsm.h"

#include "scanner/twain/TwainWire.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QEventLoop>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>

#include <windows.h>

// The TWAIN Working Group's header, last: its macros (CAP_…, TWTY_…) must not meet the
// project's own names for the same numbers above.
#include "scanner/twain/twain.h"

#ifndef TWCC_NOMEDIA
#define TWCC_NOMEDIA 29
#endif

namespace kelvo {

namespace {

using twainwire::Stage;
using twainwire::WireCapability;

// --- Surviving a driver that crashes ------------------------------------------------------
// A data source runs inside this process. A fault inside a call to the source manager (and
// the source behind it) that nobody handles ends that call with a failure instead of ending
// the program; the source is not called again in this process. Pages stored before stay stored and are handed
// off. The frames skipped belong to the driver and to guardedEntry(), which holds nothing
// that needs destroying.
struct Guard {
    void* jump[5];
    Guard* outer;
};
thread_local Guard* g_guard = nullptr;
std::atomic<bool> g_driverFailed{false};

// Whether a fault at this address is the program's own (its executable or Qt, which may run
// inside a driver's dialog loop): those are not a driver's to be survived.
bool faultOfTheProgram(const void* address)
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        return false;
    if (module == GetModuleHandleW(nullptr))
        return true;
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(module, path, MAX_PATH);
    const wchar_t* name = std::wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    return _wcsnicmp(name, L"Qt6", 3) == 0;
}

LPTOP_LEVEL_EXCEPTION_FILTER g_previousFilter = nullptr;

// Called only for a fault nobody handles: a driver that guards its own code keeps doing so.
LONG WINAPI driverFault(EXCEPTION_POINTERS* e)
{
    if (!g_guard || faultOfTheProgram(e->ExceptionRecord->ExceptionAddress))
        return g_previousFilter ? g_previousFilter(e) : EXCEPTION_CONTINUE_SEARCH;
    switch (e->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_IN_PAGE_ERROR:
    case EXCEPTION_DATATYPE_MISALIGNMENT: {
        Guard* g = g_guard;
        g_guard = g->outer;
        __builtin_longjmp(g->jump, 1);
    }
    default: return g_previousFilter ? g_previousFilter(e) : EXCEPTION_CONTINUE_SEARCH;
    }
}

__attribute__((noinline)) TW_UINT16 guardedEntry(DSMENTRYPROC entry, pTW_IDENTITY origin, pTW_IDENTITY dest,
                                                 TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                                                 bool* crashed)
{
    static const bool installed = [] {
        g_previousFilter = SetUnhandledExceptionFilter(driverFault);
        return true;
    }();
    (void)installed;
    Guard guard;
    guard.outer = g_guard;
    if (__builtin_setjmp(guard.jump) == 0) {
        g_guard = &guard;
        const TW_UINT16 rc = entry(origin, dest, dg, dat, msg, data);
        g_guard = guard.outer;
        return rc;
    }
    *crashed = true;
    return TWRC_FAILURE;
}

// The source chosen in the source manager's list, for the rest of the process.
TW_IDENTITY g_chosenSource{};
bool g_haveChosenSource = false;
std::set<std::string> g_wineSaneSources;

void copyText(char* target, std::size_t size, const char* text)
{
    std::strncpy(target, text, size - 1);
    target[size - 1] = 0;
}

LRESULT CALLBACK ownerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace

struct TwainDsm::Impl : QAbstractNativeEventFilter {
    HMODULE dsmModule = nullptr;
    DSMENTRYPROC entry = nullptr;
    HWND owner = nullptr;
    TW_IDENTITY app{};
    TW_IDENTITY source{};
    bool managerOpen = false;
    bool sourceOpen = false;
    bool enabled = false;
    bool crashed = false;
    bool rgbSwapped = false;
    // What the negotiation achieved.
    bool feederOn = false;
    bool unitAccepted = true;
    double dpi = 0;
    // Events from the source while enabled.
    bool transferReady = false;
    bool closeRequested = false;
    std::atomic<bool> cancelRequested{false};
    bool filterInstalled = false;

    ~Impl() override
    {
        if (filterInstalled && QCoreApplication::instance())
            QCoreApplication::instance()->removeNativeEventFilter(this);
    }

    bool loadManager()
    {
        if (entry)
            return true;
        for (const wchar_t* name : {L"TWAINDSM.dll", L"twain_32.dll"}) {
            HMODULE m = LoadLibraryW(name);
            if (!m)
                continue;
            if (auto e = reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(m, "DSM_Entry")))) {
                dsmModule = m;
                entry = e;
                return true;
            }
            FreeLibrary(m);
        }
        return false;
    }

    TW_UINT16 call(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        if (crashed || !entry)
            return TWRC_FAILURE;
        const TW_UINT16 rc = guardedEntry(entry, &app, dest, dg, dat, msg, data, &crashed);
        if (crashed) {
            g_driverFailed = true;
            std::fprintf(stderr, "KelvoBild: the scanner driver failed inside a TWAIN call (%u/%u/%u); "
                                 "it is not used again until the program is restarted\n",
                         unsigned(dg), unsigned(dat), unsigned(msg));
        }
        return rc;
    }

    // The condition code of the last failure: the source's, or the manager's (dest null).
    TW_UINT16 status(pTW_IDENTITY dest)
    {
        TW_STATUS s{};
        if (call(dest, DG_CONTROL, DAT_STATUS, MSG_GET, &s) != TWRC_SUCCESS)
            return TWCC_BUMMER;
        return s.ConditionCode;
    }

    int result(Stage stage, TW_UINT16 rc, pTW_IDENTITY dest)
    {
        if (crashed)
            return ACQUIRE_FAILED;
        if (rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS)
            return ACQUIRE_SUCCESS;
        const TW_UINT16 cc = rc == TWRC_FAILURE ? status(dest) : TWCC_SUCCESS;
        return twainwire::acquireResultFor(stage, rc, cc);
    }

    int openSource()
    {
        if (sourceOpen)
            return ACQUIRE_SUCCESS;
        if (g_driverFailed || crashed)
            return ACQUIRE_FAILED;
        if (!managerOpen)
            return ACQUIRE_OPEN_FAILED;
        TW_IDENTITY id{};
        if (g_haveChosenSource) {
            id = g_chosenSource;
        } else if (const char* name = std::getenv("KELVO_TWAIN_SOURCE"); name && *name) {
            copyText(id.ProductName, sizeof id.ProductName, name);
        } else if (call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GETDEFAULT, &id) != TWRC_SUCCESS) {
            return result(Stage::OpenSource, TWRC_FAILURE, nullptr);
        }
        id.Id = 0;
        // Wine's SANE source writes colour pixels in SANE's order, red first. Its sources are
        // the ones whose opening loads sane.ds (the source manager never unloads it again).
        const bool saneLoaded = GetModuleHandleW(L"sane.ds") != nullptr;
        const TW_UINT16 rc = call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &id);
        if (rc != TWRC_SUCCESS)
            return result(Stage::OpenSource, rc, nullptr);
        source = id;
        sourceOpen = true;
        const std::string name(id.ProductName, strnlen(id.ProductName, sizeof id.ProductName));
        if (!saneLoaded && GetModuleHandleW(L"sane.ds"))
            g_wineSaneSources.insert(name);
        rgbSwapped = g_wineSaneSources.count(name) != 0;
        feederOn = false;
        unitAccepted = true;
        return ACQUIRE_SUCCESS;
    }

    int send(const WireCapability& c)
    {
        if (int r = openSource(); r != ACQUIRE_SUCCESS)
            return r;
        TW_CAPABILITY cap{};
        cap.Cap = c.cap;
        cap.ConType = TWON_ONEVALUE;
        cap.hContainer = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(TW_ONEVALUE));
        if (!cap.hContainer)
            return ACQUIRE_NO_MEMORY;
        auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(cap.hContainer));
        one->ItemType = c.itemType;
        one->Item = c.item;
        GlobalUnlock(cap.hContainer);
        const TW_UINT16 rc = call(&source, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        if (!crashed)
            GlobalFree(cap.hContainer);
        return rc == TWRC_SUCCESS || rc == TWRC_CHECKSTATUS ? ACQUIRE_SUCCESS : result(Stage::Enable, rc, &source);
    }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (!enabled || crashed || eventType != "windows_generic_MSG")
            return false;
        TW_EVENT event{};
        event.pEvent = message;
        event.TWMessage = MSG_NULL;
        const TW_UINT16 rc = call(&source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        if (event.TWMessage == MSG_XFERREADY)
            transferReady = true;
        else if (event.TWMessage == MSG_CLOSEDSREQ || event.TWMessage == MSG_CLOSEDSOK)
            closeRequested = true;
        return rc == TWRC_DSEVENT;
    }

    void resetTransfers()
    {
        TW_PENDINGXFERS pending{};
        call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    }

    int transferPages(const PageCallback& onPage, const ProgressCallback& onProgress)
    {
        int delivered = 0;
        for (;;) {
            if (cancelRequested) {
                resetTransfers();
                return ACQUIRE_CANCELLED;
            }
            TW_IMAGEINFO info{};
            qint64 expected = -1;
            double reportedDpi = 0;
            if (call(&source, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) == TWRC_SUCCESS) {
                if (info.ImageWidth > 0 && info.ImageLength > 0 && info.BitsPerPixel > 0)
                    expected = qint64(info.ImageWidth) * info.ImageLength * info.BitsPerPixel / 8;
                const double x = info.XResolution.Whole + info.XResolution.Frac / 65536.0;
                if (x > 0)
                    reportedDpi = x;
            }
            if (crashed)
                return ACQUIRE_FAILED;
            if (onProgress)
                onProgress({delivered + 1, 0, expected});
            // Some sources write only 32 bits of the handle.
            TW_HANDLE handle = nullptr;
            const TW_UINT16 rc = call(&source, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
            if (crashed)
                return ACQUIRE_FAILED;
            if (rc == TWRC_CANCEL) {
                TW_PENDINGXFERS pending{};
                call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
                resetTransfers();
                return ACQUIRE_CANCELLED;
            }
            if (rc != TWRC_XFERDONE) {
                int r = result(Stage::Transfer, rc, &source);
                resetTransfers();
                // An empty feeder after pages is the end of the stack, not a failure.
                if (r == ACQUIRE_NO_DOCS && delivered > 0)
                    r = ACQUIRE_SUCCESS;
                return crashed ? ACQUIRE_FAILED : r;
            }
            QString error;
            Bitmap page;
            qint64 bytes = 0;
            if (handle) {
                bytes = qint64(GlobalSize(handle));
                if (const void* dib = GlobalLock(handle)) {
                    page = twainwire::bitmapFromDib(static_cast<const uint8_t*>(dib), std::size_t(bytes), dpi,
                                                    reportedDpi, rgbSwapped, &error);
                    GlobalUnlock(handle);
                }
                GlobalFree(handle);
            }
            TW_PENDINGXFERS pending{};
            const TW_UINT16 endRc = call(&source, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
            if (crashed)
                return ACQUIRE_FAILED;
            if (page.image.isNull()) {
                std::fprintf(stderr, "KelvoBild: unreadable page from the scanner: %s\n", qPrintable(error));
                if (endRc == TWRC_SUCCESS && pending.Count != 0)
                    resetTransfers();
                return ACQUIRE_BAD_DATA;
            }
            ++delivered;
            if (onProgress)
                onProgress({delivered, bytes, bytes});
            const int answer = onPage ? onPage(page) : ACQUIRE_SUCCESS;
            page.free();
            // A source without a feeder keeps saying more pages may come (it can always scan
            // again): one page per acquisition, as from a flatbed.
            const bool more = endRc == TWRC_SUCCESS && pending.Count != 0;
            if (answer != ACQUIRE_SUCCESS || cancelRequested || (more && !feederOn)) {
                if (more)
                    resetTransfers();
                if (answer != ACQUIRE_SUCCESS)
                    return answer;
                return cancelRequested ? ACQUIRE_CANCELLED : ACQUIRE_SUCCESS;
            }
            if (!more)
                return ACQUIRE_SUCCESS;
        }
    }

    void closeAll()
    {
        if (!crashed) {
            if (enabled) {
                TW_USERINTERFACE ui{};
                ui.hParent = owner;
                call(&source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
            }
            if (sourceOpen)
                call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source);
            if (managerOpen)
                call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &owner);
        }
        enabled = sourceOpen = managerOpen = false;
        if (owner) {
            DestroyWindow(owner);
            owner = nullptr;
        }
    }
};

TwainDsm::TwainDsm() : d(std::make_unique<Impl>()) {}

TwainDsm::~TwainDsm()
{
    d->closeAll();
}

bool TwainDsm::isAvailable()
{
    return d->loadManager();
}

int TwainDsm::openSession()
{
    d->closeAll();
    d->crashed = false;
    if (!d->loadManager())
        return ACQUIRE_NO_DEVICE;
    if (g_driverFailed)
        return ACQUIRE_FAILED;
    static const bool registered = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ownerProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"KelvoTwainOwner";
        return RegisterClassW(&wc) != 0;
    }();
    (void)registered;
    // A top-level window that is never shown: the parent of the source's dialogs and of the
    // source manager's list, and the window the source manager posts its events to.
    d->owner = CreateWindowExW(0, L"KelvoTwainOwner", L"KelvoBild TWAIN", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    TW_IDENTITY& app = d->app;
    app = TW_IDENTITY{};
    app.Version.MajorNum = 1;
    app.Version.MinorNum = 3;
    app.Version.Language = TWLG_USA;
    app.Version.Country = TWCY_USA;
    copyText(app.Version.Info, sizeof app.Version.Info, "Version 1.3");
    app.ProtocolMajor = TWON_PROTOCOLMAJOR;
    app.ProtocolMinor = TWON_PROTOCOLMINOR;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    copyText(app.Manufacturer, sizeof app.Manufacturer, "Kelvo eG");
    copyText(app.ProductFamily, sizeof app.ProductFamily, "KELVO-Scan-Modul");
    copyText(app.ProductName, sizeof app.ProductName, "KELVO-Scan-Modul");
    const TW_UINT16 rc = d->call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &d->owner);
    d->managerOpen = rc == TWRC_SUCCESS;
    return d->managerOpen ? ACQUIRE_SUCCESS : d->result(Stage::OpenManager, rc, nullptr);
}

int TwainDsm::selectSource()
{
    if (!d->managerOpen)
        return ACQUIRE_OPEN_FAILED;
    TW_IDENTITY chosen = g_haveChosenSource ? g_chosenSource : TW_IDENTITY{};
    chosen.Id = 0;
    const TW_UINT16 rc = d->call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen);
    if (rc == TWRC_SUCCESS) {
        g_chosenSource = chosen;
        g_haveChosenSource = true;
        return ACQUIRE_SUCCESS;
    }
    return d->result(Stage::OpenSource, rc, nullptr);
}

int TwainDsm::startCapabilityNegotiation()
{
    return d->openSource();
}

int TwainDsm::setCapability(const TwainCapability& cap, int)
{
    const int r = d->send({cap.Cap, cap.ItemType, cap.Item});
    if (cap.Cap == 0x1002) // the feeder
        d->feederOn = r == ACQUIRE_SUCCESS && cap.Item != 0;
    return r;
}

int TwainDsm::setBitsPerPixel(int bitsPerPixel)
{
    int r = ACQUIRE_SUCCESS;
    for (const WireCapability& c : twainwire::bitsPerPixelCapabilities(bitsPerPixel))
        if (const int one = d->send(c); one != ACQUIRE_SUCCESS)
            r = one;
    return r;
}

int TwainDsm::setResolution(const kelvo::TW_FIX32& x, const kelvo::TW_FIX32& y)
{
    d->dpi = fix32ToDouble(x);
    int r = ACQUIRE_SUCCESS;
    for (const WireCapability& c : twainwire::resolutionCapabilities(x, y))
        if (const int one = d->send(c); one != ACQUIRE_SUCCESS)
            r = one;
    return r;
}

int TwainDsm::setUnit(int unit)
{
    const int r = d->send(twainwire::unitCapability(unit));
    d->unitAccepted = r == ACQUIRE_SUCCESS;
    return r;
}

int TwainDsm::setImageFrame(const kelvo::TW_FRAME& frame)
{
    if (int r = d->openSource(); r != ACQUIRE_SUCCESS)
        return r;
    if (!d->unitAccepted)
        return ACQUIRE_FAILED;
    TW_IMAGELAYOUT layout{};
    auto fix = [](const kelvo::TW_FIX32& v) {
        ::TW_FIX32 f;
        f.Whole = v.Whole;
        f.Frac = v.Frac;
        return f;
    };
    layout.Frame.Left = fix(frame.Left);
    layout.Frame.Top = fix(frame.Top);
    layout.Frame.Right = fix(frame.Right);
    layout.Frame.Bottom = fix(frame.Bottom);
    layout.DocumentNumber = layout.PageNumber = layout.FrameNumber = 1;
    const TW_UINT16 rc = d->call(&d->source, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &layout);
    return d->result(Stage::Enable, rc, &d->source);
}

int TwainDsm::enableDuplex(int enable)
{
    return d->send(twainwire::duplexCapability(enable));
}

int TwainDsm::endCapabilityNegotiation()
{
    return d->sourceOpen ? ACQUIRE_SUCCESS : ACQUIRE_OPEN_FAILED;
}

int TwainDsm::acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress)
{
    if (g_driverFailed)
        return ACQUIRE_FAILED;
    if (!d->managerOpen)
        return ACQUIRE_OPEN_FAILED;
    if (int r = d->openSource(); r != ACQUIRE_SUCCESS)
        return r;
    QCoreApplication* qapp = QCoreApplication::instance();
    if (qapp && !d->filterInstalled) {
        qapp->installNativeEventFilter(d.get());
        d->filterInstalled = true;
    }
    d->cancelRequested = false;
    d->transferReady = d->closeRequested = false;
    TW_USERINTERFACE ui{};
    ui.ShowUI = flags == ACQUIRE_SHOW_UI ? TRUE : FALSE;
    ui.ModalUI = FALSE;
    ui.hParent = d->owner;
    d->enabled = true;
    const TW_UINT16 rc = d->call(&d->source, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    if (rc != TWRC_SUCCESS && rc != TWRC_CHECKSTATUS) {
        d->enabled = false;
        return d->result(Stage::Enable, rc, &d->source);
    }
    // The source says when a page is ready through an event the application passes back to
    // it; wait for that while the windows go on painting.
    while (!d->transferReady && !d->closeRequested && !d->crashed && !d->cancelRequested) {
        if (qapp) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        } else {
            MSG msg;
            if (GetMessageW(&msg, nullptr, 0, 0) <= 0)
                break;
            TW_EVENT event{&msg, MSG_NULL};
            if (d->call(&d->source, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_DSEVENT) {
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (event.TWMessage == MSG_XFERREADY)
                d->transferReady = true;
            else if (event.TWMessage == MSG_CLOSEDSREQ || event.TWMessage == MSG_CLOSEDSOK)
                d->closeRequested = true;
        }
    }
    int result = ACQUIRE_CANCELLED;
    if (d->crashed)
        result = ACQUIRE_FAILED;
    else if (d->transferReady)
        result = d->transferPages(onPage, onProgress);
    if (!d->crashed) {
        TW_USERINTERFACE off{};
        off.hParent = d->owner;
        d->call(&d->source, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off);
    }
    d->enabled = false;
    return d->crashed ? ACQUIRE_FAILED : result;
}

void TwainDsm::requestCancel()
{
    d->cancelRequested = true;
    if (HWND owner = d->owner)
        PostMessageW(owner, WM_NULL, 0, 0); // wakes the wait for the source's events
}

int TwainDsm::endSession()
{
    d->closeAll();
    return ACQUIRE_SUCCESS;
}

} // namespace kelvo
