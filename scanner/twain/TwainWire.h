// What the TWAIN layer sends to a data source and what it makes of the answers, as plain
// values testable without a source manager: the capability records behind each negotiation
// call, TWAIN's return and condition codes as acquisition results, and a device-independent
// bitmap (DIB) as a page.
//
// The TWAIN header's macros (CAP_…, TWCC_…) are not used here, so that this header can sit
// beside it; the few numbers needed have names of their own.
#pragma once

#include "imaging/Bitmap.h"
#include "scanner/Twain.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelvo::twainwire {

inline constexpr uint16_t kCapXferCount = 0x0001;
inline constexpr uint16_t kCapDuplexEnabled = 0x1013;
inline constexpr uint16_t kIcapUnits = 0x0102;
inline constexpr uint16_t kIcapPixelType = 0x0101;
inline constexpr uint16_t kIcapBitDepth = 0x112B;
inline constexpr uint16_t kIcapXResolution = 0x1118;
inline constexpr uint16_t kIcapYResolution = 0x1119;
inline constexpr uint16_t kTypeFix32 = 7;
inline constexpr uint16_t kPixelBw = 0, kPixelGray = 1, kPixelRgb = 2;

// One capability in a one-value container, as it goes to the source. A TW_FIX32 item
// (type 7) is its 16-bit whole part in the low half and its fraction in the high half, as the
// two fields lie in memory.
struct WireCapability {
    uint16_t cap = 0;
    uint16_t itemType = 0;
    uint32_t item = 0;
    bool operator==(const WireCapability&) const = default;
};

uint32_t fix32Item(TW_FIX32 value);
TW_FIX32 fix32FromItem(uint32_t item);

// Bits per pixel as the source understands them: the pixel type first (1 black and white,
// 8 gray, 24 colour), then the bit depth for that type.
std::vector<WireCapability> bitsPerPixelCapabilities(int bitsPerPixel);
// Horizontal, then vertical resolution.
std::vector<WireCapability> resolutionCapabilities(TW_FIX32 x, TW_FIX32 y);
WireCapability unitCapability(int unit);
WireCapability duplexCapability(int enable);

// Return codes of DSM_Entry and the stage of the session they came from.
enum class Stage {
    OpenManager,  // loading or opening the source manager
    OpenSource,   // opening the scanner
    Enable,       // starting the scan (MSG_ENABLEDS)
    Transfer,     // a page's transfer
};
inline constexpr uint16_t kRcSuccess = 0, kRcFailure = 1, kRcCheckStatus = 2, kRcCancel = 3,
                          kRcXferDone = 6;

// The acquisition result for a return code and the condition code the source gave with it.
// Success and "check status" give ACQUIRE_SUCCESS.
//
// | return / condition                              | result                  |
// |-------------------------------------------------|-------------------------|
// | TWRC_CANCEL (any stage)                         | ACQUIRE_CANCELLED       |
// | TWCC_NODS (3)                                   | ACQUIRE_NO_DEVICE       |
// | TWCC_MAXCONNECTIONS (4)                         | ACQUIRE_DEVICE_BUSY     |
// | TWCC_LOWMEMORY (2)                              | ACQUIRE_NO_MEMORY       |
// | TWCC_DENIED (16)                                | ACQUIRE_ACCESS_DENIED   |
// | TWCC_PAPERJAM (20), TWCC_PAPERDOUBLEFEED (21)   | ACQUIRE_JAMMED          |
// | TWCC_NOMEDIA (29)                               | ACQUIRE_NO_DOCS         |
// | TWCC_INTERLOCK (24)                             | ACQUIRE_COVER_OPEN      |
// | TWCC_CHECKDEVICEONLINE (23)                     | ACQUIRE_IO_ERROR        |
// | any other, opening the manager or the scanner   | ACQUIRE_OPEN_FAILED     |
// | any other, starting the scan or a transfer      | ACQUIRE_FAILED          |
int acquireResultFor(Stage stage, uint16_t returnCode, uint16_t conditionCode);

// A page from a packed DIB (BITMAPINFOHEADER, colour table, pixels; rows bottom-up unless the
// height is negative), 1, 4, 8, 24 or 32 bits per pixel, uncompressed. 1 bit keeps its two
// colours; 4 and 8 bits give gray when the colour table is a gray ramp, else indexed colour;
// 24 and 32 bits give RGB. The page is stamped with the resolution the source used: the
// header's pixels per metre, else reportedDpi (the image information; 0: none), else the
// requested one. swapRedBlue: the source writes colour pixels as R, G, B instead of B, G, R.
// Fails (null image, *error set) on a short or malformed block, never reading past `size`.
Bitmap bitmapFromDib(const uint8_t* data, std::size_t size, double requestedDpi, double reportedDpi,
                     bool swapRedBlue, QString* error);

} // namespace kelvo::twainwire
