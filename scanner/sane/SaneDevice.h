// The SANE library and one device: initialised once per process, the list of devices, the
// device to use (chosen in the list, else SANE_DEFAULT_DEVICE, else the first listed), the
// codes for SANE's statuses, and the negotiated settings put onto the device's options
// (the source first, the scan area last) and read back for what the device really does.
#pragma once

#include "scanner/sane/SaneFrame.h"
#include "scanner/sane/ScannerDevice.h"
#include "scanner/Twain.h"

#include <QByteArray>
#include <QString>

#include <sane/sane.h>

#include <utility>
#include <vector>

namespace kelvo {

class SaneOptions;

// sane_init succeeded (tried once, on first use; sane_exit runs when the process ends).
bool saneAvailable();
// Between sane_init and sane_exit: SANE calls are allowed.
bool saneAlive();

std::vector<ScannerDevice> listDevices();

// The acquisition result for a SANE status (of sane_start, sane_read, …), and for that of
// sane_open.
int resultFromStatus(SANE_Status status);
int openResultFromStatus(SANE_Status status);

// One open device.
struct SaneDevice {
    SANE_Handle handle = nullptr;
    QByteArray name;
    QString title;  // "vendor model (name)", found when first needed: see dialogTitle()
    // Something was started since the last sane_cancel. A second sane_cancel can fail on
    // a network backend whose connection is gone, so it is sent only when needed.
    bool cancelPending = false;

    // Opens `chosen`, else SANE_DEFAULT_DEVICE, else the first device listed; keeps the
    // device open when it is that one already. ACQUIRE_SUCCESS or the failure's code.
    int open(const QByteArray& chosen);
    // "vendor model (name)" for dialogs; looks the device up when it was opened by name.
    QString dialogTitle();
    // Cancels what runs and closes. Safe to call twice, and after the connection is gone.
    void close();
    // Forgets the device without a call to it: a thread is still stuck inside it.
    void abandon();
};

// What the scan session negotiated, in the layer's own terms.
struct Negotiated {
    bool feeder = false;
    bool duplex = false;
    bool transmissive = false;
    int blankMode = 0;  // 0, TWBP_AUTO or TWBP_DISABLE
    bool autoRotate = false;
    int bitsPerPixel = 0;
    double xDpi = 0.0;
    double yDpi = 0.0;
    int unit = TWUN_INCHES;  // TWAIN's default unit
    bool frameSet = false;
    TW_FRAME frame{};
};

using ExtraOptions = std::vector<std::pair<QByteArray, QByteArray>>;

// What the negotiated settings became on the device.
struct Outcome {
    bool multiPage = false;       // the source is a feeder: scan until it is empty
    bool dropBlankPages = false;  // blank pages are to be dropped here, not by the device
    double xDpi = 0.0;            // the resolution the device uses; 0 when it has none
    double yDpi = 0.0;
};

// Sets the device's options for the negotiated settings: source, duplex, mode and depth,
// resolution, the scan area, blank-page and rotation options, then the extra options.
// Whatever a device lacks is left alone.
void applySettings(SaneOptions& o, const Negotiated& s, const ExtraOptions& extras, Outcome& out);
// Reads back what the device will do: feeder or not, resolution.
void readOutcome(const SaneOptions& o, Outcome& out);

} // namespace kelvo
