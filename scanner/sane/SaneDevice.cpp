#include "scanner/sane/SaneDevice.h"

#include "scanner/sane/SaneMapping.h"
#include "scanner/sane/SaneOptions.h"
#include "scanner/sane/SaneWorker.h"

#include <sane/saneopts.h>

#include <QtGlobal>

#include <algorithm>

namespace kelvo {

namespace {

// Value for a device's own blank-page option that counts darkness in percent per block
// (`swskip` of fujitsu, canon_dr, kvs1025): low, so that a page with little on it stays.
constexpr double kDeviceBlankSkipPercent = 2.0;

// Device options known to drop blank pages, or to turn pages upright, in SANE backends.
const char* const kBlankPageOptions[] = {"swskip", "blank-page-skip", "skip-blank-pages", "blank-skip"};
const char* const kAutoRotateOptions[] = {"swderotate", "auto-rotate", "autorotate", "rotate-auto"};
const char* const kDuplexOptions[] = {"duplex", "adf-mode"};

} // namespace

std::vector<ScannerDevice> listDevices(SaneWorker& worker)
{
    std::vector<ScannerDevice> out;
    std::vector<char> reply;
    if (!worker.start() || !worker.call(worker::Writer(worker::kListDevices), worker::kDevices, reply, stallLimit()))
        return out;
    worker::Reader r(reply.data(), reply.size());
    const uint32_t n = r.u32();
    for (uint32_t i = 0; i < n && r.ok(); ++i) {
        const std::string name = r.str();
        const std::string vendor = r.str();
        const std::string model = r.str();
        const std::string type = r.str();
        if (r.ok())
            out.push_back({QByteArray::fromStdString(name), QString::fromStdString(vendor),
                           QString::fromStdString(model), QString::fromStdString(type)});
    }
    return out;
}

int resultFromStatus(int status)
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

int openResultFromStatus(int status)
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

namespace {
// Devices held open by the sessions of this process (GUI thread only): a backend in another
// worker process would not know.
std::vector<QByteArray>& heldDevices()
{
    static std::vector<QByteArray> held;
    return held;
}
} // namespace

SaneDevice::~SaneDevice()
{
    close();
}

int SaneDevice::open(const QByteArray& chosen)
{
    if (isOpen && !worker.running())
        forget();  // its worker has gone: opened again in a new one
    if (!worker.start())
        return ACQUIRE_NO_DEVICE;
    QByteArray wanted = chosen;
    if (wanted.isEmpty())
        wanted = qgetenv("SANE_DEFAULT_DEVICE");
    // A named device is opened straight away: searching for devices asks every network
    // backend to look around the network, which takes seconds.
    std::vector<ScannerDevice> devices;
    if (wanted.isEmpty()) {
        devices = listDevices(worker);
        if (devices.empty())
            return ACQUIRE_NO_DEVICE;
        wanted = devices.front().name;
    }
    if (isOpen && wanted == name)
        return ACQUIRE_SUCCESS;
    close();
    std::vector<QByteArray>& held = heldDevices();
    if (std::find(held.begin(), held.end(), wanted) != held.end())
        return ACQUIRE_DEVICE_BUSY;
    std::vector<char> reply;
    if (!worker.start()
        || !worker.call(worker::Writer(worker::kOpen).str(wanted.toStdString()), worker::kOpened, reply, stallLimit()))
        return ACQUIRE_OPEN_FAILED;
    const int opened = worker::Reader(reply.data(), reply.size()).i32();
    if (opened != SANE_STATUS_GOOD)
        return openResultFromStatus(opened);
    isOpen = true;
    name = wanted;
    held.push_back(name);
    // Listed only when the first device was taken: then the title is at hand.
    title = devices.empty() ? QString() : titleOf(devices.front());
    return ACQUIRE_SUCCESS;
}

QString SaneDevice::dialogTitle()
{
    if (title.isEmpty()) {
        title = QString::fromUtf8(name);
        for (const ScannerDevice& dev : listDevices(worker)) {
            if (dev.name == name)
                title = titleOf(dev);
        }
    }
    return title;
}

void SaneDevice::forget()
{
    std::vector<QByteArray>& held = heldDevices();
    if (isOpen)
        held.erase(std::remove(held.begin(), held.end(), name), held.end());
    isOpen = false;
    name.clear();
    title.clear();
}

void SaneDevice::close()
{
    if (isOpen && worker.running()) {
        std::vector<char> reply;
        worker.call(worker::Writer(worker::kClose), worker::kClosed, reply, std::chrono::milliseconds(500));
    }
    forget();
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
