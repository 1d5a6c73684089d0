#include "support/EsclSimulator.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QPainter>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <chrono>

#include <map>
#include <mutex>

namespace kelvo::test {

namespace {

// Marks: a row of cells in the upper part of the page; cell i is black when bit i is set.
// Bits 0–9 the sheet number, bit 10 the back side, bit 11 always (a marked page).
constexpr int kMarkCells = 12;
constexpr int kBackBit = 10;
constexpr int kMarkedBit = 11;
// How long the scanner takes to answer that its feeder is empty.
constexpr std::chrono::milliseconds kEmptyFeederDelay(300);

QRect markCell(int width, int height, int i)
{
    const int left = width / 10;
    const int cellWidth = (width * 8 / 10) / kMarkCells;
    return QRect(left + i * cellWidth, height / 10, cellWidth, height / 10);
}

const char* const kCapabilities = R"(<?xml version="1.0" encoding="UTF-8"?>
<scan:ScannerCapabilities xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm">
<pwg:Version>2.63</pwg:Version>
<pwg:MakeAndModel>Kelvo eSCL Simulator</pwg:MakeAndModel>
<pwg:SerialNumber>KELVO-0001</pwg:SerialNumber>
<scan:Platen><scan:PlatenInputCaps>%1</scan:PlatenInputCaps></scan:Platen>
<scan:Adf>
<scan:AdfSimplexInputCaps>%1</scan:AdfSimplexInputCaps>
<scan:AdfDuplexInputCaps>%1</scan:AdfDuplexInputCaps>
<scan:FeederCapacity>50</scan:FeederCapacity>
<scan:AdfOptions><scan:AdfOption>DetectPaperLoaded</scan:AdfOption><scan:AdfOption>Duplex</scan:AdfOption></scan:AdfOptions>
</scan:Adf>
</scan:ScannerCapabilities>
)";

const char* const kInputCaps = R"(
<scan:MinWidth>16</scan:MinWidth><scan:MaxWidth>2550</scan:MaxWidth>
<scan:MinHeight>16</scan:MinHeight><scan:MaxHeight>3508</scan:MaxHeight>
<scan:MaxScanRegions>1</scan:MaxScanRegions>
<scan:SettingProfiles><scan:SettingProfile>
<scan:ColorModes><scan:ColorMode>BlackAndWhite1</scan:ColorMode><scan:ColorMode>Grayscale8</scan:ColorMode><scan:ColorMode>RGB24</scan:ColorMode></scan:ColorModes>
<scan:DocumentFormats><pwg:DocumentFormat>image/jpeg</pwg:DocumentFormat><scan:DocumentFormatExt>image/jpeg</scan:DocumentFormatExt></scan:DocumentFormats>
<scan:SupportedResolutions><scan:DiscreteResolutions>
<scan:DiscreteResolution><scan:XResolution>75</scan:XResolution><scan:YResolution>75</scan:YResolution></scan:DiscreteResolution>
<scan:DiscreteResolution><scan:XResolution>100</scan:XResolution><scan:YResolution>100</scan:YResolution></scan:DiscreteResolution>
<scan:DiscreteResolution><scan:XResolution>150</scan:XResolution><scan:YResolution>150</scan:YResolution></scan:DiscreteResolution>
<scan:DiscreteResolution><scan:XResolution>200</scan:XResolution><scan:YResolution>200</scan:YResolution></scan:DiscreteResolution>
<scan:DiscreteResolution><scan:XResolution>300</scan:XResolution><scan:YResolution>300</scan:YResolution></scan:DiscreteResolution>
<scan:DiscreteResolution><scan:XResolution>600</scan:XResolution><scan:YResolution>600</scan:YResolution></scan:DiscreteResolution>
</scan:DiscreteResolutions></scan:SupportedResolutions>
</scan:SettingProfile></scan:SettingProfiles>
)";

QString element(const QByteArray& xml, const char* name)
{
    // Any namespace prefix: <pwg:InputSource>, <scan:InputSource>, <InputSource>.
    const QRegularExpression re(QStringLiteral("<(?:\\w+:)?%1>\\s*([^<]*?)\\s*</").arg(QLatin1String(name)));
    const QRegularExpressionMatch m = re.match(QString::fromUtf8(xml));
    return m.hasMatch() ? m.captured(1) : QString();
}

struct Job {
    EsclScanSettings settings;
    int served = 0;      // documents served by this job
    bool finished = false;
};

} // namespace

struct EsclSimulator::Impl {
    mutable std::mutex mutex;
    // Behaviour and records, under `mutex`.
    int sheets = 5;
    int blankSheet = 0;
    int stallAfter = -1;
    int dropAfter = -1;
    int pagesServed = 0;
    int deleted = 0;
    bool backPending = false;  // the front of a duplex sheet was served, its back is next
    int currentSheet = 0;      // sheet numbers count on over jobs
    std::vector<EsclScanSettings> settings;
    QStringList requests;

    // Server thread only.
    QThread thread;
    QObject* anchor = nullptr;  // lives in `thread`: calls into it go through this
    QTcpServer* server = nullptr;
    std::map<QTcpSocket*, QByteArray> buffers;
    std::map<int, Job> jobs;
    int nextJob = 1;
    quint16 port = 0;

    void accept();
    void readFrom(QTcpSocket* s);
    void handle(QTcpSocket* s, const QByteArray& method, const QByteArray& path, const QByteArray& body);
    void reply(QTcpSocket* s, int status, const char* reason, const QByteArray& body = {},
               const QByteArray& type = "text/xml", const QByteArray& extra = {});
    QByteArray statusXml();
    QByteArray nextDocument(Job& job, bool* exhausted);
};

void EsclSimulator::Impl::accept()
{
    while (QTcpSocket* s = server->nextPendingConnection()) {
        buffers[s];
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { readFrom(s); });
        QObject::connect(s, &QTcpSocket::disconnected, s, [this, s] {
            buffers.erase(s);
            s->deleteLater();
        });
    }
}

void EsclSimulator::Impl::readFrom(QTcpSocket* s)
{
    QByteArray& buf = buffers[s];
    buf += s->readAll();
    for (;;) {
        const qsizetype end = buf.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const QList<QByteArray> lines = buf.left(end).split('\n');
        const QList<QByteArray> request = lines.value(0).trimmed().split(' ');
        qsizetype length = 0;
        for (const QByteArray& l : lines) {
            const qsizetype colon = l.indexOf(':');
            if (colon > 0 && l.left(colon).trimmed().toLower() == "content-length")
                length = l.mid(colon + 1).trimmed().toLongLong();
        }
        if (buf.size() < end + 4 + length)
            return;
        const QByteArray body = buf.mid(end + 4, length);
        buf.remove(0, end + 4 + length);
        handle(s, request.value(0), request.value(1), body);
        if (!buffers.count(s))
            return;  // the connection was cut
    }
}

void EsclSimulator::Impl::reply(QTcpSocket* s, int status, const char* reason, const QByteArray& body,
                                const QByteArray& type, const QByteArray& extra)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\n";
    head += "Server: KelvoEscl\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n";
    if (!body.isEmpty())
        head += "Content-Type: " + type + "\r\n";
    head += extra;
    head += "\r\n";
    s->write(head + body);
}

QByteArray EsclSimulator::Impl::statusXml()
{
    std::lock_guard lock(mutex);
    const char* adf = sheets > 0 || backPending ? "ScannerAdfLoaded" : "ScannerAdfEmpty";
    return QByteArray(R"(<?xml version="1.0" encoding="UTF-8"?>
<scan:ScannerStatus xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm">
<pwg:Version>2.63</pwg:Version><pwg:State>Idle</pwg:State><scan:AdfState>)")
        + adf + "</scan:AdfState>\n</scan:ScannerStatus>\n";
}

QByteArray EsclSimulator::Impl::nextDocument(Job& job, bool* exhausted)
{
    const EsclScanSettings& st = job.settings;
    int sheet = 0;
    bool back = false;
    {
        std::lock_guard lock(mutex);
        const bool feeder = st.inputSource.compare(QLatin1String("Feeder"), Qt::CaseInsensitive) == 0;
        if (!feeder) {
            if (job.served > 0) {
                *exhausted = true;
                return {};
            }
            sheet = ++currentSheet;
        } else if (backPending) {
            backPending = false;
            sheet = currentSheet;
            back = true;
        } else {
            if (sheets <= 0) {
                *exhausted = true;
                return {};
            }
            --sheets;
            sheet = ++currentSheet;
            backPending = st.duplex;
        }
        ++pagesServed;
    }
    ++job.served;
    const int xRes = st.xResolution > 0 ? st.xResolution : 300;
    const int yRes = st.yResolution > 0 ? st.yResolution : xRes;
    const int width = std::max(16, st.width > 0 ? st.width * xRes / 300 : 2550 * xRes / 300);
    const int height = std::max(16, st.height > 0 ? st.height * yRes / 300 : 3508 * yRes / 300);
    const bool colour = st.colorMode == QLatin1String("RGB24");
    bool blank = false;
    {
        std::lock_guard lock(mutex);
        blank = blankSheet == sheet;
    }
    QImage page = blank ? QImage(width, height, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8)
                        : markedPage(width, height, sheet, back, colour);
    if (blank)
        page.fill(Qt::white);
    page.setDotsPerMeterX(qRound(xRes / 0.0254));
    page.setDotsPerMeterY(qRound(yRes / 0.0254));
    QByteArray jpeg;
    QBuffer out(&jpeg);
    out.open(QIODevice::WriteOnly);
    page.save(&out, "JPEG", 90);
    *exhausted = false;
    return jpeg;
}

void EsclSimulator::Impl::handle(QTcpSocket* s, const QByteArray& method, const QByteArray& path, const QByteArray& body)
{
    {
        std::lock_guard lock(mutex);
        requests << QString::fromLatin1(method + ' ' + path);
    }
    static const QRegularExpression jobPath(QStringLiteral("^/eSCL/ScanJobs/(\\d+)(/NextDocument)?/?$"));
    const QRegularExpressionMatch m = jobPath.match(QString::fromLatin1(path));
    if (method == "GET" && path == "/eSCL/ScannerCapabilities") {
        reply(s, 200, "OK", QString::fromLatin1(kCapabilities).arg(QLatin1String(kInputCaps)).toUtf8());
    } else if (method == "GET" && path == "/eSCL/ScannerStatus") {
        reply(s, 200, "OK", statusXml());
    } else if (method == "POST" && path == "/eSCL/ScanJobs") {
        EsclScanSettings st;
        st.xml = body;
        st.inputSource = element(body, "InputSource");
        st.colorMode = element(body, "ColorMode");
        st.xResolution = element(body, "XResolution").toInt();
        st.yResolution = element(body, "YResolution").toInt();
        st.xOffset = element(body, "XOffset").toInt();
        st.yOffset = element(body, "YOffset").toInt();
        st.width = element(body, "Width").toInt();
        st.height = element(body, "Height").toInt();
        const QString duplex = element(body, "Duplex").toLower();
        st.duplex = duplex == QLatin1String("true") || duplex == QLatin1String("1");
        bool empty = false;
        {
            std::lock_guard lock(mutex);
            settings.push_back(st);
            empty = st.inputSource.compare(QLatin1String("Feeder"), Qt::CaseInsensitive) == 0 && sheets <= 0
                && !backPending;
        }
        if (empty) {
            reply(s, 409, "Conflict");
            return;
        }
        const int id = nextJob++;
        jobs[id] = Job{st, 0, false};
        reply(s, 201, "Created", {}, {},
              "Location: http://127.0.0.1:" + QByteArray::number(port) + "/eSCL/ScanJobs/" + QByteArray::number(id) + "\r\n");
    } else if (m.hasMatch() && method == "GET" && !m.captured(2).isEmpty()) {
        auto it = jobs.find(m.captured(1).toInt());
        if (it == jobs.end() || it->second.finished) {
            reply(s, 404, "Not Found");
            return;
        }
        int served = 0;
        int stall = -1;
        int drop = -1;
        {
            std::lock_guard lock(mutex);
            served = pagesServed;
            stall = stallAfter;
            drop = dropAfter;
        }
        if (stall >= 0 && served >= stall)
            return;  // silence: the request stays open without an answer
        if (drop >= 0 && served >= drop) {
            buffers.erase(s);
            s->abort();
            s->deleteLater();
            return;
        }
        bool exhausted = false;
        const QByteArray jpeg = nextDocument(it->second, &exhausted);
        if (exhausted) {
            it->second.finished = true;
            // A scanner takes a moment to find its feeder empty. Answering at once would
            // also hit a race in airscan, which then loses the last page of the job.
            QPointer<QTcpSocket> later(s);
            QTimer::singleShot(kEmptyFeederDelay, s, [this, later] {
                if (later)
                    reply(later, 404, "Not Found");
            });
        } else {
            reply(s, 200, "OK", jpeg, "image/jpeg");
        }
    } else if (m.hasMatch() && method == "DELETE") {
        {
            std::lock_guard lock(mutex);
            ++deleted;
        }
        const bool known = jobs.erase(m.captured(1).toInt()) > 0;
        reply(s, known ? 200 : 404, known ? "OK" : "Not Found");
    } else {
        reply(s, 404, "Not Found");
    }
}

EsclSimulator::EsclSimulator()
    : d(std::make_unique<Impl>())
{
}

EsclSimulator::~EsclSimulator()
{
    stop();
}

bool EsclSimulator::start()
{
    if (d->server)
        return true;
    d->thread.start();
    bool ok = false;
    d->anchor = new QObject;
    d->anchor->moveToThread(&d->thread);
    QMetaObject::invokeMethod(d->anchor, [this, &ok] {
        d->server = new QTcpServer;
        QObject::connect(d->server, &QTcpServer::newConnection, d->server, [this] { d->accept(); });
        ok = d->server->listen(QHostAddress::LocalHost, 0);
        d->port = d->server->serverPort();
    }, Qt::BlockingQueuedConnection);
    if (!ok)
        stop();
    return ok;
}

void EsclSimulator::stop()
{
    if (!d->thread.isRunning())
        return;
    QMetaObject::invokeMethod(d->anchor, [this] {
        std::vector<QTcpSocket*> open;
        for (const auto& [s, buf] : d->buffers)
            open.push_back(s);
        d->buffers.clear();
        for (QTcpSocket* s : open) {
            QObject::disconnect(s, nullptr, nullptr, nullptr);
            s->abort();
            delete s;
        }
        delete d->server;
        d->server = nullptr;
    }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
    delete d->anchor;
    d->anchor = nullptr;
}

quint16 EsclSimulator::port() const
{
    return d->port;
}

QString EsclSimulator::url() const
{
    return QStringLiteral("http://127.0.0.1:%1/eSCL").arg(d->port);
}

void EsclSimulator::setSheets(int sheets)
{
    std::lock_guard lock(d->mutex);
    d->sheets = sheets;
    d->backPending = false;
    d->currentSheet = 0;
}

void EsclSimulator::setBlankSheet(int n)
{
    std::lock_guard lock(d->mutex);
    d->blankSheet = n;
}

void EsclSimulator::stallAfterPages(int pages)
{
    std::lock_guard lock(d->mutex);
    d->stallAfter = pages;
}

void EsclSimulator::dropAfterPages(int pages)
{
    std::lock_guard lock(d->mutex);
    d->dropAfter = pages;
}

std::vector<EsclScanSettings> EsclSimulator::scanSettings() const
{
    std::lock_guard lock(d->mutex);
    return d->settings;
}

int EsclSimulator::pagesServed() const
{
    std::lock_guard lock(d->mutex);
    return d->pagesServed;
}

int EsclSimulator::jobsDeleted() const
{
    std::lock_guard lock(d->mutex);
    return d->deleted;
}

QStringList EsclSimulator::requests() const
{
    std::lock_guard lock(d->mutex);
    return d->requests;
}

bool EsclSimulator::writeSaneConfig(const QString& dir) const
{
    QDir().mkpath(dir);
    QFile dll(dir + QStringLiteral("/dll.conf"));
    QFile airscan(dir + QStringLiteral("/airscan.conf"));
    if (!dll.open(QIODevice::WriteOnly) || !airscan.open(QIODevice::WriteOnly))
        return false;
    dll.write("airscan\n");
    airscan.write(QStringLiteral("[devices]\n\"Kelvo eSCL\" = %1, eSCL\n\n[options]\ndiscovery = disable\n"
                                 "ws-discovery = off\n")
                      .arg(url())
                      .toUtf8());
    return true;
}

QImage markedPage(int width, int height, int sheet, bool back, bool colour)
{
    QImage page(width, height, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    page.fill(Qt::white);
    QPainter p(&page);
    const int bits = (sheet & 0x3ff) | (back ? 1 << kBackBit : 0) | (1 << kMarkedBit);
    for (int i = 0; i < kMarkCells; ++i) {
        if (bits & (1 << i))
            p.fillRect(markCell(width, height, i), Qt::black);
    }
    // Something that is colour on a colour page, below the marks.
    p.fillRect(QRect(width / 10, height / 2, width / 3, height / 6), colour ? QColor(200, 30, 30) : QColor(60, 60, 60));
    p.end();
    return page;
}

PageMark readPageMark(const QImage& page)
{
    PageMark m;
    if (page.isNull())
        return m;
    const QImage gray = page.convertToFormat(QImage::Format_Grayscale8);
    int bits = 0;
    for (int i = 0; i < kMarkCells; ++i) {
        const QRect cell = markCell(gray.width(), gray.height(), i);
        const QRect inner = cell.adjusted(cell.width() / 4, cell.height() / 4, -cell.width() / 4, -cell.height() / 4);
        long sum = 0;
        long n = 0;
        for (int y = inner.top(); y <= inner.bottom(); ++y) {
            const uchar* row = gray.constScanLine(y);
            for (int x = inner.left(); x <= inner.right(); ++x, ++n)
                sum += row[x];
        }
        if (n > 0 && sum / n < 128)
            bits |= 1 << i;
    }
    m.valid = (bits >> kMarkedBit) & 1;
    if (m.valid) {
        m.sheet = bits & 0x3ff;
        m.back = (bits >> kBackBit) & 1;
    }
    return m;
}

} // namespace kelvo::test
