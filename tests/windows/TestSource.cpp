// KelvoTest.ds: a TWAIN data source for the tests. The source manager lists and opens it like
// any scanner driver. It keeps every capability it is sent, writes each one as a line to the
// file named by KELVO_TESTDS_RECORD, and feeds KELVO_TESTDS_PAGES pages (default 3) of the
// pattern in TestPattern.h by native transfer, at the pixel type, bit depth, resolution and
// frame asked for. KELVO_TESTDS_FAULT makes it fail on purpose:
//   jam:N     page N jams (TWCC_PAPERJAM)          cancel:N  page N is cancelled (TWRC_CANCEL)
//   crash:N   the driver crashes on page N         nopaper   the feeder is empty (TWCC_NOMEDIA)
// Record lines: "<cap in hex> <item type> <value>" for capabilities (TW_FIX32 values with six
// decimals), "frame <left> <top> <right> <bottom>" for the image layout, "enable <ShowUI>".
#include "TestPattern.h"

#include <windows.h>

#include "scanner/twain/twain.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifndef TWCC_NOMEDIA
#define TWCC_NOMEDIA 29
#endif

namespace {

enum class Fault { None, Jam, Cancel, Crash, NoPaper };

struct Source {
    TW_IDENTITY self{};
    TW_IDENTITY app{};
    bool enabled = false;
    TW_UINT16 condition = TWCC_SUCCESS;
    int pagesInFeeder = 3;
    int nextPage = 1; // number of the next page to transfer
    int pending = 0;
    Fault fault = Fault::None;
    int faultPage = 0;
    // Negotiated settings.
    bool feeder = false;
    TW_UINT16 pixelType = TWPT_RGB;
    TW_UINT16 bitDepth = 24;
    double xDpi = 100, yDpi = 100;
    TW_UINT16 units = TWUN_INCHES;
    double frame[4] = {0, 0, 8.5, 11.0};
};

Source g;

double fix32(TW_FIX32 v)
{
    return v.Whole + v.Frac / 65536.0;
}

TW_FIX32 toFix32(double v)
{
    const long fixed = std::lround(v * 65536.0);
    TW_FIX32 r;
    r.Whole = static_cast<TW_INT16>(fixed >> 16);
    r.Frac = static_cast<TW_UINT16>(fixed & 0xffff);
    return r;
}

// The process environment as it is now (the tests change it between sessions).
std::string environment(const char* name)
{
    char value[1024];
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

void record(const char* line)
{
    const std::string name = environment("KELVO_TESTDS_RECORD");
    if (name.empty())
        return;
    if (FILE* f = std::fopen(name.c_str(), "ab")) {
        std::fprintf(f, "%s\n", line);
        std::fclose(f);
    }
}

void readEnvironment()
{
    const std::string pages = environment("KELVO_TESTDS_PAGES");
    g.pagesInFeeder = pages.empty() ? 3 : std::atoi(pages.c_str());
    g.fault = Fault::None;
    g.faultPage = 0;
    const std::string f = environment("KELVO_TESTDS_FAULT");
    if (f.empty())
        return;
    const auto colon = f.find(':');
    const std::string kind = f.substr(0, colon);
    g.faultPage = colon == std::string::npos ? 1 : std::atoi(f.c_str() + colon + 1);
    if (kind == "jam")
        g.fault = Fault::Jam;
    else if (kind == "cancel")
        g.fault = Fault::Cancel;
    else if (kind == "crash")
        g.fault = Fault::Crash;
    else if (kind == "nopaper")
        g.fault = Fault::NoPaper;
}

TW_UINT16 failWith(TW_UINT16 condition)
{
    g.condition = condition;
    return TWRC_FAILURE;
}

// The page size in pixels for the frame in the current unit.
void pageSize(int* width, int* height)
{
    double w = g.frame[2] - g.frame[0], h = g.frame[3] - g.frame[1];
    if (g.units != TWUN_PIXELS) {
        const double perInch = g.units == TWUN_CENTIMETERS ? 2.54 : 1.0;
        w = w / perInch * g.xDpi;
        h = h / perInch * g.yDpi;
    }
    *width = w < 1 ? 1 : static_cast<int>(std::lround(w));
    *height = h < 1 ? 1 : static_cast<int>(std::lround(h));
}

int bitsPerPixel()
{
    return g.pixelType == TWPT_BW ? 1 : g.pixelType == TWPT_GRAY ? 8 : 24;
}

// One page as a packed DIB, rows bottom-up as most drivers send them. Black and white pages
// carry a colour table with white first, so that a reader that ignores it gets them inverted.
HGLOBAL drawPage(int page)
{
    int w = 0, h = 0;
    pageSize(&w, &h);
    const int bits = bitsPerPixel();
    const int colours = bits == 1 ? 2 : bits == 8 ? 256 : 0;
    const size_t stride = ((size_t(w) * bits + 31) / 32) * 4;
    const size_t total = sizeof(BITMAPINFOHEADER) + colours * sizeof(RGBQUAD) + stride * h;
    HGLOBAL block = GlobalAlloc(GHND, total);
    if (!block)
        return nullptr;
    auto* header = static_cast<BITMAPINFOHEADER*>(GlobalLock(block));
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = w;
    header->biHeight = h;
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(bits);
    header->biCompression = BI_RGB;
    header->biSizeImage = static_cast<DWORD>(stride * h);
    header->biXPelsPerMeter = static_cast<LONG>(std::lround(g.xDpi / 0.0254));
    header->biYPelsPerMeter = static_cast<LONG>(std::lround(g.yDpi / 0.0254));
    header->biClrUsed = colours;
    auto* table = reinterpret_cast<RGBQUAD*>(header + 1);
    if (bits == 1) {
        table[0] = RGBQUAD{255, 255, 255, 0};
        table[1] = RGBQUAD{0, 0, 0, 0};
    } else if (bits == 8) {
        for (int i = 0; i < 256; ++i)
            table[i] = RGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
    }
    auto* pixels = reinterpret_cast<BYTE*>(table + colours);
    for (int y = 0; y < h; ++y) {
        BYTE* row = pixels + stride * (h - 1 - y);
        for (int x = 0; x < w; ++x) {
            if (bits == 1) {
                if (kelvotest::patternBlack(page, x, y))
                    row[x / 8] |= BYTE(0x80 >> (x % 8));
            } else if (bits == 8) {
                row[x] = kelvotest::patternGray(page, x, y);
            } else {
                uint8_t rgb[3];
                kelvotest::patternRgb(page, x, y, rgb);
                row[3 * x] = rgb[2];
                row[3 * x + 1] = rgb[1];
                row[3 * x + 2] = rgb[0];
            }
        }
    }
    GlobalUnlock(block);
    return block;
}

void notifyApplication(TW_UINT16 message)
{
    HMODULE dsm = GetModuleHandleW(L"TWAINDSM.dll");
    if (!dsm)
        dsm = GetModuleHandleW(L"twain_32.dll");
    auto entry = dsm ? reinterpret_cast<DSMENTRYPROC>(reinterpret_cast<void*>(GetProcAddress(dsm, "DSM_Entry"))) : nullptr;
    if (entry)
        entry(&g.self, &g.app, DG_CONTROL, DAT_NULL, message, nullptr);
}

void recordCapability(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 item)
{
    char line[96];
    if (type == TWTY_FIX32) {
        TW_FIX32 v;
        std::memcpy(&v, &item, sizeof v);
        std::snprintf(line, sizeof line, "0x%04x %u %.6f", cap, type, fix32(v));
    } else if (type == TWTY_INT32 || type == TWTY_INT16 || type == TWTY_INT8) {
        const long value = type == TWTY_INT32 ? long(TW_INT32(item)) : type == TWTY_INT16 ? long(TW_INT16(item)) : long(TW_INT8(item));
        std::snprintf(line, sizeof line, "0x%04x %u %ld", cap, type, value);
    } else {
        std::snprintf(line, sizeof line, "0x%04x %u %lu", cap, type, static_cast<unsigned long>(item));
    }
    record(line);
}

TW_UINT16 setCapability(TW_UINT16 cap, TW_UINT16 type, TW_UINT32 item)
{
    TW_FIX32 fixed;
    std::memcpy(&fixed, &item, sizeof fixed);
    switch (cap) {
    case CAP_FEEDERENABLED: g.feeder = item != 0; return TWRC_SUCCESS;
    case ICAP_XFERMECH: return item == TWSX_NATIVE ? TWRC_SUCCESS : failWith(TWCC_BADVALUE);
    case ICAP_LIGHTPATH:
    case ICAP_AUTODISCARDBLANKPAGES:
    case ICAP_AUTOMATICROTATE:
    case CAP_DUPLEXENABLED:
    case CAP_XFERCOUNT: return TWRC_SUCCESS;
    case ICAP_PIXELTYPE:
        if (item > TWPT_RGB)
            return failWith(TWCC_BADVALUE);
        g.pixelType = TW_UINT16(item);
        g.bitDepth = TW_UINT16(bitsPerPixel());
        return TWRC_SUCCESS;
    case ICAP_BITDEPTH:
        return TW_UINT16(item) == bitsPerPixel() ? TWRC_SUCCESS : failWith(TWCC_BADVALUE);
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
        if (type != TWTY_FIX32 || fix32(fixed) < 10 || fix32(fixed) > 1200)
            return failWith(TWCC_BADVALUE);
        (cap == ICAP_XRESOLUTION ? g.xDpi : g.yDpi) = fix32(fixed);
        return TWRC_SUCCESS;
    }
    case ICAP_UNITS:
        if (item != TWUN_INCHES && item != TWUN_CENTIMETERS && item != TWUN_PIXELS)
            return failWith(TWCC_BADVALUE);
        g.units = TW_UINT16(item);
        return TWRC_SUCCESS;
    default: return failWith(TWCC_CAPUNSUPPORTED);
    }
}

TW_UINT16 capability(TW_UINT16 msg, TW_CAPABILITY* cap)
{
    if (!cap)
        return failWith(TWCC_BADVALUE);
    if (msg != MSG_SET)
        return failWith(TWCC_CAPBADOPERATION);
    if (cap->ConType != TWON_ONEVALUE || !cap->hContainer)
        return failWith(TWCC_BADVALUE);
    auto* one = static_cast<TW_ONEVALUE*>(GlobalLock(cap->hContainer));
    if (!one)
        return failWith(TWCC_BADVALUE);
    const TW_UINT16 type = one->ItemType;
    const TW_UINT32 item = one->Item;
    GlobalUnlock(cap->hContainer);
    recordCapability(cap->Cap, type, item);
    if (g.enabled)
        return failWith(TWCC_SEQERROR);
    return setCapability(cap->Cap, type, item);
}

TW_UINT16 imageLayout(TW_UINT16 msg, TW_IMAGELAYOUT* layout)
{
    if (!layout)
        return failWith(TWCC_BADVALUE);
    if (msg == MSG_GET || msg == MSG_GETCURRENT) {
        layout->Frame.Left = toFix32(g.frame[0]);
        layout->Frame.Top = toFix32(g.frame[1]);
        layout->Frame.Right = toFix32(g.frame[2]);
        layout->Frame.Bottom = toFix32(g.frame[3]);
        layout->DocumentNumber = layout->PageNumber = layout->FrameNumber = 1;
        return TWRC_SUCCESS;
    }
    if (msg != MSG_SET)
        return failWith(TWCC_BADPROTOCOL);
    char line[128];
    std::snprintf(line, sizeof line, "frame %.6f %.6f %.6f %.6f", fix32(layout->Frame.Left), fix32(layout->Frame.Top),
                  fix32(layout->Frame.Right), fix32(layout->Frame.Bottom));
    record(line);
    if (g.enabled)
        return failWith(TWCC_SEQERROR);
    g.frame[0] = fix32(layout->Frame.Left);
    g.frame[1] = fix32(layout->Frame.Top);
    g.frame[2] = fix32(layout->Frame.Right);
    g.frame[3] = fix32(layout->Frame.Bottom);
    return TWRC_SUCCESS;
}

TW_UINT16 enable(TW_USERINTERFACE* ui)
{
    char line[32];
    std::snprintf(line, sizeof line, "enable %d", ui ? int(ui->ShowUI) : -1);
    record(line);
    if (g.enabled)
        return failWith(TWCC_SEQERROR);
    if (g.fault == Fault::NoPaper || (g.feeder && g.pagesInFeeder - (g.nextPage - 1) <= 0))
        return failWith(TWCC_NOMEDIA);
    g.enabled = true;
    // Without the feeder the source is a flatbed: one page per scan.
    g.pending = g.feeder ? g.pagesInFeeder - (g.nextPage - 1) : 1;
    notifyApplication(MSG_XFERREADY);
    return TWRC_SUCCESS;
}

TW_UINT16 nativeTransfer(TW_MEMREF data)
{
    if (!g.enabled || g.pending <= 0 || !data)
        return failWith(TWCC_SEQERROR);
    if (g.faultPage == g.nextPage) {
        if (g.fault == Fault::Jam)
            return failWith(TWCC_PAPERJAM);
        if (g.fault == Fault::Cancel)
            return TWRC_CANCEL;
        if (g.fault == Fault::Crash)
            *static_cast<volatile int*>(nullptr) = 1; // a driver fault as the program meets it
    }
    HGLOBAL page = drawPage(g.nextPage);
    if (!page)
        return failWith(TWCC_LOWMEMORY);
    *static_cast<TW_HANDLE*>(data) = page;
    return TWRC_XFERDONE;
}

TW_UINT16 pendingTransfers(TW_UINT16 msg, TW_PENDINGXFERS* p)
{
    if (!p)
        return failWith(TWCC_BADVALUE);
    switch (msg) {
    case MSG_ENDXFER:
        if (g.pending > 0) {
            --g.pending;
            ++g.nextPage;
        }
        break;
    case MSG_RESET: g.pending = 0; break;
    case MSG_GET: break;
    default: return failWith(TWCC_BADPROTOCOL);
    }
    p->Count = static_cast<TW_UINT16>(g.pending);
    return TWRC_SUCCESS;
}

TW_UINT16 imageInfo(TW_IMAGEINFO* info)
{
    if (!info)
        return failWith(TWCC_BADVALUE);
    std::memset(info, 0, sizeof *info);
    int w = 0, h = 0;
    pageSize(&w, &h);
    info->XResolution = toFix32(g.xDpi);
    info->YResolution = toFix32(g.yDpi);
    info->ImageWidth = w;
    info->ImageLength = h;
    info->SamplesPerPixel = g.pixelType == TWPT_RGB ? 3 : 1;
    for (int i = 0; i < info->SamplesPerPixel; ++i)
        info->BitsPerSample[i] = static_cast<TW_INT16>(g.pixelType == TWPT_BW ? 1 : 8);
    info->BitsPerPixel = static_cast<TW_INT16>(bitsPerPixel());
    info->PixelType = static_cast<TW_INT16>(g.pixelType);
    info->Compression = TWCP_NONE;
    return TWRC_SUCCESS;
}

void identify(TW_IDENTITY* id)
{
    id->Version.MajorNum = 1;
    id->Version.MinorNum = 0;
    id->Version.Language = TWLG_USA;
    id->Version.Country = TWCY_USA;
    std::strcpy(id->Version.Info, "1.0");
    id->ProtocolMajor = TWON_PROTOCOLMAJOR;
    id->ProtocolMinor = TWON_PROTOCOLMINOR;
    id->SupportedGroups = DG_CONTROL | DG_IMAGE;
    std::strcpy(id->Manufacturer, "Kelvo");
    std::strcpy(id->ProductFamily, "Test");
    std::strcpy(id->ProductName, "KelvoBild Testscanner");
}

TW_UINT16 control(TW_IDENTITY* origin, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    switch (dat) {
    case DAT_IDENTITY:
        if (msg == MSG_GET) {
            identify(static_cast<TW_IDENTITY*>(data));
            return TWRC_SUCCESS;
        }
        if (msg == MSG_OPENDS) {
            g = Source();
            g.self = *static_cast<TW_IDENTITY*>(data);
            if (origin)
                g.app = *origin;
            readEnvironment();
            return TWRC_SUCCESS;
        }
        if (msg == MSG_CLOSEDS) {
            g.enabled = false;
            return TWRC_SUCCESS;
        }
        return failWith(TWCC_BADPROTOCOL);
    case DAT_CAPABILITY: return capability(msg, static_cast<TW_CAPABILITY*>(data));
    case DAT_USERINTERFACE:
        if (msg == MSG_ENABLEDS)
            return enable(static_cast<TW_USERINTERFACE*>(data));
        if (msg == MSG_DISABLEDS) {
            if (!g.enabled)
                return failWith(TWCC_SEQERROR);
            g.enabled = false;
            return TWRC_SUCCESS;
        }
        return failWith(TWCC_BADPROTOCOL);
    case DAT_PENDINGXFERS: return pendingTransfers(msg, static_cast<TW_PENDINGXFERS*>(data));
    case DAT_STATUS:
        if (msg == MSG_GET && data) {
            static_cast<TW_STATUS*>(data)->ConditionCode = g.condition;
            g.condition = TWCC_SUCCESS;
            return TWRC_SUCCESS;
        }
        return failWith(TWCC_BADPROTOCOL);
    case DAT_EVENT:
        if (data)
            static_cast<TW_EVENT*>(data)->TWMessage = MSG_NULL;
        return TWRC_NOTDSEVENT;
    default: return failWith(TWCC_BADPROTOCOL);
    }
}

} // namespace

extern "C" TW_UINT16 DECLSPEC_EXPORT PASCAL DS_Entry(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                                                    TW_MEMREF data)
{
    if (dg == DG_CONTROL)
        return control(origin, dat, msg, data);
    if (dg == DG_IMAGE) {
        switch (dat) {
        case DAT_IMAGENATIVEXFER:
            if (msg == MSG_GET)
                return nativeTransfer(data);
            break;
        case DAT_IMAGEINFO:
            if (msg == MSG_GET)
                return imageInfo(static_cast<TW_IMAGEINFO*>(data));
            break;
        case DAT_IMAGELAYOUT: return imageLayout(msg, static_cast<TW_IMAGELAYOUT*>(data));
        default: break;
        }
    }
    return failWith(TWCC_BADPROTOCOL);
}
