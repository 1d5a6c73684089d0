#include "scanner/sane/SaneDevice.h"

#include "scanner/sane/SaneMapping.h"
#include "scanner/sane/SaneOptions.h"

#include <sane/saneopts.h>

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <csignal>

#include <signal.h>

namespace kelvo {

namespace {

// Value for a device's own blank-page option that counts darkness in percent per block
// (`swskip` of fujitsu, canon_dr, kvs1025): low, so that a page with little on it stays.
constexpr double kDeviceBlankSkipPercent = 2.0;

// Device options known to drop blank pages, or to turn pages upright, in SANE backends.
const char* const kBlankPageOptions[] = {"swskip", "blank-page-skip", "skip-blank-pages", "blank-skip"};
const char* const kAutoRotateOptions[] = {"swderotate", "auto-rotate", "autorotate", "rotate-auto"};
const char* const kDuplexOptions[] = {"duplex", "adf-mode"};

std::atomic<bool> g_saneAlive{false};

class SaneLibrary {
public:
    // Never destroyed: an exit() from elsewhere (Qt's, when the X server dies) must not pull
    // the library away under a reader thread that is still in the backend.
    static SaneLibrary& instance()
    {
        static SaneLibrary* library = new SaneLibrary;
        return *library;
    }
    bool ok() const { return ok_; }

private:
    SaneLibrary()
    {
        // Network backends (net, airscan) write to sockets whose far end may be gone (saned
        // killed, a scanner switched off): that must be an error, not the end of the
        // process. Left alone when the program has its own handler.
        struct sigaction current {};
        if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGPIPE, SIG_IGN);
        SANE_Int version = 0;
        ok_ = sane_init(&version, nullptr) == SANE_STATUS_GOOD;
        g_saneAlive = ok_;
    }
    ~SaneLibrary()
    {
        if (ok_) {
            g_saneAlive = false;
            sane_exit();
        }
    }
    bool ok_ = false;
};

} // namespace

bool saneAvailable()
{
    return SaneLibrary::instance().ok();
}

bool saneAlive()
{
    return g_saneAlive;
}

std::vector<ScannerDevice> listDevices()
{
    std::vector<ScannerDevice> out;
    const SANE_Device** list = nullptr;
    if (sane_get_devices(&list, SANE_FALSE) != SANE_STATUS_GOOD || !list)
        return out;
    for (const SANE_Device** d = list; *d; ++d) {
        if (!(*d)->name)
            continue;
        out.push_back({QByteArray((*d)->name), QString::fromUtf8((*d)->vendor ? (*d)->vendor : ""),
                       QString::fromUtf8((*d)->model ? (*d)->model : ""),
                       QString::fromUtf8((*d)->type ? (*d)->type : "")});
    }
    return out;
}

int resultFromStatus(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_GOOD: return ACQUIRE_SUCCESS;
    case SANE_STATUS_NO_DOCS: return ACQUIRE_NO_DOCS;
    case SANE_STATUS_JAMMED: return ACQUIRE_JAMMED;
    case SANE_STATUS_COVER_OPEN: return ACQUIRE_COVER_OPEN;
    case SANE_STATUS_IO_ERROR: return ACQUIRE_IO_ERROR;
    case SANE_STATUS_CANCELLED: return ACQUIRE_CANCELLED;
    case SANE_STATUS_DEVICE_BUSY: return ACQUIRE_DEVICE_BUSY;
    case SANE_STATUS_NO_MEM: return ACQUIRE_NO_MEMORY;
    case SANE_STATUS_ACCESS_DENIED: return ACQUIRE_ACCESS_DENIED;
    default: return ACQUIRE_FAILED;  // INVAL, UNSUPPORTED, EOF before any data, …
    }
}

int openResultFromStatus(SANE_Status status)
{
    switch (status) {
    case SANE_STATUS_DEVICE_BUSY: return ACQUIRE_DEVICE_BUSY;
    case SANE_STATUS_ACCESS_DENIED: return ACQUIRE_ACCESS_DENIED;
    case SANE_STATUS_NO_MEM: return ACQUIRE_NO_MEMORY;
    default: return ACQUIRE_OPEN_FAILED;
    }
}


namespace {
QString titleOf(const ScannerDevice& dev)
{
    return QStringLiteral("%1 %2 (%3)").arg(dev.vendor, dev.model, QString::fromUtf8(dev.name));
}
} // namespace

int SaneDevice::open(const QByteArray& chosen)
{
    QByteArray wanted = chosen;
    if (wanted.isEmpty())
        wanted = qgetenv("SANE_DEFAULT_DEVICE");
    // A named device is opened straight away: searching for devices asks every network
    // backend to look around the network, which takes seconds.
    std::vector<ScannerDevice> devices;
    if (wanted.isEmpty()) {
        devices = listDevices();
        if (devices.empty())
            return ACQUIRE_NO_DEVICE;
        wanted = devices.front().name;
    }
    if (handle && wanted == name)
        return ACQUIRE_SUCCESS;
    close();
    SANE_Handle h = nullptr;
    const SANE_Status status = sane_open(wanted.constData(), &h);
    if (status != SANE_STATUS_GOOD || !h)
        return openResultFromStatus(status);
    handle = h;
    name = wanted;
    // Listed only when the first device was taken: then the title is at hand.
    title = devices.empty() ? QString() : titleOf(devices.front());
    return ACQUIRE_SUCCESS;
}

QString SaneDevice::dialogTitle()
{
    if (title.isEmpty()) {
        title = QString::fromUtf8(name);
        for (const ScannerDevice& dev : listDevices()) {
            if (dev.name == name)
                title = titleOf(dev);
        }
    }
    return title;
}

void SaneDevice::abandon()
{
    handle = nullptr;
    name.clear();
    title.clear();
    cancelPending = false;
}

void SaneDevice::close()
{
    if (handle && saneAlive()) {
        if (cancelPending)
            sane_cancel(handle);
        sane_close(handle);
    }
    cancelPending = false;
    handle = nullptr;
    name.clear();
    title.clear();
}

namespace {

void setNearest(SaneOptions& o, const char* name, double wanted)
{
    const int i = o.find(name);
    if (i > 0 && o.isSettable(i) && o.isScalar(i))
        o.setNumber(i, nearestAllowedValue(wanted, o.numberConstraint(i)));
}

// Switches a device feature on or off, whatever the type of its option; true when the
// device accepted it.
bool applySwitch(SaneOptions& o, int i, bool on, double numericOn)
{
    const SANE_Option_Descriptor* d = o.descriptor(i);
    if (!d || !o.isSettable(i))
        return false;
    switch (d->type) {
    case SANE_TYPE_BOOL:
        return o.setBool(i, on);
    case SANE_TYPE_INT:
    case SANE_TYPE_FIXED:
        return o.setNumber(i, nearestAllowedValue(on ? numericOn : 0.0, o.numberConstraint(i)));
    case SANE_TYPE_STRING: {
        const QStringList values = o.stringList(i);
        const int v = chooseSwitchIndex(values, on);
        return v >= 0 && o.setString(i, values[v].toUtf8());
    }
    default:
        return false;
    }
}

std::vector<int> allowedDepths(SaneOptions& o, int i)
{
    std::vector<int> out;
    if (i <= 0 || !o.isSettable(i))
        return out;
    const ValueConstraint c = o.numberConstraint(i);
    if (c.kind == ValueConstraint::List) {
        for (double v : c.values)
            out.push_back(static_cast<int>(v));
    } else if (c.kind == ValueConstraint::Range) {
        for (int v : {1, 8, 16}) {
            if (v >= c.min && v <= c.max)
                out.push_back(v);
        }
    } else {
        out = {1, 8, 16};
    }
    return out;
}

double readResolution(const SaneOptions& o, const char* name)
{
    const int i = o.find(name);
    if (i <= 0)
        return 0.0;
    return o.getNumber(i).value_or(0.0);
}

} // namespace

void applySettings(SaneOptions& o, const Negotiated& s, const ExtraOptions& extras, Outcome& out)
{
    auto isExtra = [&extras](const char* name) {
        return std::any_of(extras.begin(), extras.end(), [name](const auto& e) { return e.first == name; });
    };
    auto applyExtra = [&o](const QByteArray& name, const QByteArray& value) {
        const int i = o.find(name.constData());
        if (i <= 0 || !o.setFromText(i, value))
            qWarning("SANE option %s=%s not applied", name.constData(), value.constData());
    };

    // Source first: it changes which other options and ranges there are, and on many
    // devices resets the scan area. An extra option naming the source wins.
    const int source = o.find(SANE_NAME_SCAN_SOURCE);
    if (isExtra(SANE_NAME_SCAN_SOURCE)) {
        for (const auto& [name, value] : extras) {
            if (name == SANE_NAME_SCAN_SOURCE)
                applyExtra(name, value);
        }
    } else if (source > 0 && o.isSettable(source)) {
        const QStringList values = o.stringList(source);
        const int i = chooseSourceIndex(values, s.feeder, s.duplex, s.transmissive);
        if (i >= 0)
            o.setString(source, values[i].toUtf8());
    }
    const QString sourceNow = source > 0 ? QString::fromUtf8(o.getString(source).value_or(QByteArray())) : QString();

    // Duplex by a separate option when the source does not say it.
    if (!namesDuplex(sourceNow)) {
        for (const char* name : kDuplexOptions) {
            const int i = o.find(name);
            if (i <= 0 || !o.isSettable(i))
                continue;
            const SANE_Option_Descriptor* d = o.descriptor(i);
            if (d->type == SANE_TYPE_BOOL) {
                o.setBool(i, s.duplex);
            } else if (d->type == SANE_TYPE_STRING) {
                const QStringList values = o.stringList(i);
                const int v = chooseDuplexIndex(values, s.duplex);
                if (v >= 0)
                    o.setString(i, values[v].toUtf8());
            }
            break;
        }
    }

    // Mode, then depth (the mode decides which depths there are).
    if (s.bitsPerPixel > 0) {
        const int mode = o.find(SANE_NAME_SCAN_MODE);
        const QStringList modes = mode > 0 && o.isSettable(mode) ? o.stringList(mode) : QStringList();
        const ModeChoice choice = chooseMode(modes, allowedDepths(o, o.find(SANE_NAME_BIT_DEPTH)), s.bitsPerPixel);
        if (!choice.mode.isEmpty())
            o.setString(mode, choice.mode.toUtf8());
        if (choice.depth > 0) {
            const int depth = o.find(SANE_NAME_BIT_DEPTH);
            const std::vector<int> now = allowedDepths(o, depth);
            if (std::find(now.begin(), now.end(), choice.depth) != now.end())
                o.setNumber(depth, choice.depth);
        }
    }

    // Resolution before the area: some devices count the area in pixels.
    if (s.xDpi > 0.0 && s.yDpi > 0.0) {
        setNearest(o, SANE_NAME_SCAN_RESOLUTION, s.xDpi);
        setNearest(o, SANE_NAME_SCAN_X_RESOLUTION, s.xDpi);
        setNearest(o, SANE_NAME_SCAN_Y_RESOLUTION, s.yDpi);
    }

    bool deviceDropsBlank = false;
    if (s.blankMode == TWBP_AUTO || s.blankMode == TWBP_DISABLE) {
        for (const char* name : kBlankPageOptions) {
            const int i = o.find(name);
            if (i > 0 && o.isSettable(i)) {
                const bool ok = applySwitch(o, i, s.blankMode == TWBP_AUTO, kDeviceBlankSkipPercent);
                deviceDropsBlank = ok && s.blankMode == TWBP_AUTO;
                break;
            }
        }
    }
    out.dropBlankPages = s.blankMode == TWBP_AUTO && !deviceDropsBlank;

    if (s.autoRotate) {
        for (const char* name : kAutoRotateOptions) {
            const int i = o.find(name);
            if (i > 0 && o.isSettable(i)) {
                applySwitch(o, i, true, 1.0);
                break;
            }
        }
    }

    for (const auto& [name, value] : extras) {
        if (name != SANE_NAME_SCAN_SOURCE)
            applyExtra(name, value);
    }

    // The scan area last: a change of source, mode or resolution may reset it. An edge named
    // by an extra option keeps that value.
    ScanArea mm;
    if (s.frameSet && frameToMillimetres(s.frame, s.unit, s.xDpi, s.yDpi, &mm)) {
        Outcome now;
        readOutcome(o, now);
        const ScanArea px = millimetresToPixels(mm, now.xDpi, now.yDpi);
        const std::pair<const char*, double ScanArea::*> edges[] = {
            {SANE_NAME_SCAN_TL_X, &ScanArea::left},
            {SANE_NAME_SCAN_TL_Y, &ScanArea::top},
            {SANE_NAME_SCAN_BR_X, &ScanArea::right},
            {SANE_NAME_SCAN_BR_Y, &ScanArea::bottom},
        };
        for (const auto& [name, edge] : edges) {
            const int i = o.find(name);
            if (i <= 0 || !o.isSettable(i) || !o.isScalar(i) || isExtra(name))
                continue;
            const bool inPixels = o.descriptor(i)->unit == SANE_UNIT_PIXEL;
            if (inPixels && (now.xDpi <= 0.0 || now.yDpi <= 0.0))
                continue;
            const double wanted = inPixels ? px.*edge : mm.*edge;
            o.setNumber(i, nearestAllowedValue(wanted, o.numberConstraint(i)));
        }
    }
}

void readOutcome(const SaneOptions& o, Outcome& out)
{
    const int source = o.find(SANE_NAME_SCAN_SOURCE);
    out.multiPage = source > 0 && namesFeeder(QString::fromUtf8(o.getString(source).value_or(QByteArray())));
    const double r = readResolution(o, SANE_NAME_SCAN_RESOLUTION);
    const double x = readResolution(o, SANE_NAME_SCAN_X_RESOLUTION);
    const double y = readResolution(o, SANE_NAME_SCAN_Y_RESOLUTION);
    out.xDpi = x > 0.0 ? x : r;
    out.yDpi = y > 0.0 ? y : out.xDpi;
}


} // namespace kelvo
