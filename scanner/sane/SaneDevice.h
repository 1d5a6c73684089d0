// The SANE devices as the scanner worker sees them: the list of devices, the device to use (chosen in the list, else SANE_DEFAULT_DEVICE, else the first listed), the
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

class SaneWorker;

// The devices the worker's SANE finds (empty when it cannot be asked).
std::vector<ScannerDevice> listDevices(SaneWorker& worker);

// The acquisition result for a SANE status (of sane_start, sane_read, …), and for that of
// sane_open.
int resultFromStatus(int status);
int openResultFromStatus(int status);

// One device, open in the scanner worker.
struct SaneDevice {
    explicit SaneDevice(SaneWorker& w)
        : worker(w)
    {
    }
    ~SaneDevice();
    SaneDevice(const SaneDevice&) = delete;
    SaneDevice& operator=(const SaneDevice&) = delete;

    SaneWorker& worker;
    bool isOpen = false;
    QByteArray name;
    QString title;  // "vendor model (name)", found when first needed: see dialogTitle()

    // Opens `chosen`, else SANE_DEFAULT_DEVICE, else the first device listed; keeps the
    // device open when it is that one already (and its worker still runs). A device another
    // session of this process holds is busy. ACQUIRE_SUCCESS or the failure's code.
    int open(const QByteArray& chosen);
    // "vendor model (name)" for dialogs; looks the device up when it was opened by name.
    QString dialogTitle();
    // Cancels what runs and closes, within half a second (else the worker is ended).
    void close();
    // Forgets the device: its worker has gone.
    void forget();
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
