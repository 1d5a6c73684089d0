// The scanner layer's interface, in the terms the scan session speaks: a session, capability
// negotiation with TWAIN's codes and fixed-point numbers, and an acquisition that hands every
// page to a callback on the calling thread. Free of any scanner library: scanner/sane/
// implements it over SANE, scanner/twain/ over a TWAIN source manager; tests fake it.
#pragma once

#include "imaging/Bitmap.h"

#include <cmath>
#include <cstdint>
#include <functional>

namespace kelvo {

struct TW_FIX32 {
    int16_t Whole = 0;
    uint16_t Frac = 0;
    bool operator==(const TW_FIX32&) const = default;
};
// Rounded to the nearest 1/65536, as the TWAIN reference conversion does.
inline TW_FIX32 floatToFix32(float value)
{
    const auto fixed = static_cast<int32_t>(std::lround(static_cast<double>(value) * 65536.0));
    return TW_FIX32{static_cast<int16_t>(fixed >> 16), static_cast<uint16_t>(fixed & 0xffff)};
}
inline double fix32ToDouble(TW_FIX32 value)
{
    return value.Whole + value.Frac / 65536.0;
}

struct TW_FRAME {
    TW_FIX32 Left, Top, Right, Bottom;
    bool operator==(const TW_FRAME&) const = default;
};

inline constexpr uint16_t CAP_FEEDERENABLED = 0x1002;
inline constexpr uint16_t ICAP_XFERMECH = 0x0103;
inline constexpr uint16_t ICAP_LIGHTPATH = 0x111E;
inline constexpr uint16_t ICAP_AUTODISCARDBLANKPAGES = 0x1134;
inline constexpr uint16_t ICAP_AUTOMATICROTATE = 0x1152;
inline constexpr uint16_t TWTY_INT32 = 2;
inline constexpr uint16_t TWTY_UINT16 = 4;
inline constexpr uint16_t TWTY_BOOL = 6;
inline constexpr uint16_t TWON_ONEVALUE = 5;
inline constexpr int TWUN_PIXELS = 5;
inline constexpr int TWLP_TRANSMISSIVE = 1;
inline constexpr int TWBP_AUTO = -1;
inline constexpr int TWBP_DISABLE = -2;
inline constexpr int ACQUIRE_SHOW_UI = 3; // flags for acquire(): show the device's own options first

// One capability in a one-value container: item type and the 32-bit item, zero-extended.
struct TwainCapability {
    uint16_t Cap = 0;
    uint16_t ItemType = 0;
    uint32_t Item = 0;
    bool operator==(const TwainCapability&) const = default;
};

// Results of acquire() other than 1. One table, documented for users in the README.
enum AcquireResult : int {
    ACQUIRE_SUCCESS = 1,
    ACQUIRE_NO_DEVICE = -101,      // no scanner found
    ACQUIRE_OPEN_FAILED = -102,    // the scanner could not be opened
    ACQUIRE_NO_DOCS = -103,        // the feeder was empty before the first page
    ACQUIRE_JAMMED = -104,         // paper jam
    ACQUIRE_COVER_OPEN = -105,     // cover open
    ACQUIRE_IO_ERROR = -106,       // input/output error talking to the scanner
    ACQUIRE_CANCELLED = -107,      // cancelled (also: the options dialog was cancelled)
    ACQUIRE_DEVICE_BUSY = -108,    // the scanner is in use
    ACQUIRE_NO_MEMORY = -109,      // out of memory
    ACQUIRE_ACCESS_DENIED = -110,  // no permission to use the scanner
    ACQUIRE_BAD_DATA = -111,       // the scanner sent data in a form we cannot read
    ACQUIRE_FAILED = -112,         // any other scanner error
};

// Called once per page on the calling thread, in scanning order; takes ownership of the
// page (frees it) and returns 1 to go on.
using PageCallback = std::function<int(Bitmap& page)>;
// How far the acquisition is, for the status bar: the number (1, 2, …) of the page being
// scanned, the bytes of it read so far and the bytes it will have (-1 when the device does
// not know in advance). Told when a page starts and then as its data comes in, at most about
// 20 times a second, on the calling thread.
struct AcquireProgress {
    int page = 0;
    qint64 bytesRead = 0;
    qint64 bytesExpected = -1;
    bool operator==(const AcquireProgress&) const = default;
};
using ProgressCallback = std::function<void(const AcquireProgress& progress)>;

class TwainLayer {
public:
    virtual ~TwainLayer() = default;
    virtual bool isAvailable() = 0;
    virtual int openSession() = 0;
    virtual int selectSource() = 0;
    virtual int startCapabilityNegotiation() = 0;
    virtual int setCapability(const TwainCapability& cap, int flags) = 0;
    virtual int setBitsPerPixel(int bitsPerPixel) = 0;
    virtual int setResolution(const TW_FIX32& x, const TW_FIX32& y) = 0;
    virtual int setUnit(int unit) = 0;
    virtual int setImageFrame(const TW_FRAME& frame) = 0;
    virtual int enableDuplex(int enable) = 0;
    virtual int endCapabilityNegotiation() = 0;
    virtual int acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress) = 0;
    // Asks a running acquire() to stop: the page being handed over is finished, no further
    // page is handed over, and acquire() returns ACQUIRE_CANCELLED. Callable from any thread
    // (the GUI thread's event handlers run while acquire() waits); without a running
    // acquisition it does nothing. A layer that cannot stop early keeps this default.
    virtual void requestCancel() {}
    virtual int endSession() = 0;
};

} // namespace kelvo
