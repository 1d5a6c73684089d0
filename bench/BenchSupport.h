// Small helpers shared by the benchmark programs: clocks, medians, peak memory, a scratch
// directory on tmpfs, a realistic scanned-page raster, and child processes with a timeout.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

inline double now()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

inline double median(std::vector<double> v)
{
    if (v.empty())
        return std::nan("");
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// Peak resident set of this process so far, in KiB (VmHWM); 0 when unknown.
inline long peakRssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

inline double mib(double bytes) { return bytes / (1024.0 * 1024.0); }

// Scratch files live on tmpfs where there is one, so the disk does not enter the numbers.
class ScratchDir {
public:
    ScratchDir()
        : m_dir((QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
                                                                      : QDir::tempPath())
                + QStringLiteral("/kelvo-bench-XXXXXX"))
    {
    }
    bool ok() const { return m_dir.isValid(); }
    QString path() const { return m_dir.path(); }
    QString file(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};

// A deterministic pseudo-random sequence (xorshift32); seed must not be 0.
struct Rng {
    quint32 s;
    explicit Rng(quint32 seed) : s(seed ? seed : 0x9e3779b9u) {}
    quint32 next()
    {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        return s;
    }
    int range(int lo, int hi) { return lo + int(next() % quint32(hi - lo + 1)); } // inclusive
};

// A page as a colour scanner delivers it (RGB888): slightly tinted paper with a gradient, a
// photo-like block of smooth colour, lines of dark glyph strokes, and sensor noise.
inline QImage makePage(int width, int height, int dpi, quint32 seed)
{
    QImage img(width, height, QImage::Format_RGB888);
    if (img.isNull())
        return img;
    const int dpm = qRound(dpi / 0.0254);
    img.setDotsPerMeterX(dpm);
    img.setDotsPerMeterY(dpm);

    const QRect photo(width / 10, height / 12, width * 5 / 10, height * 3 / 12);
    for (int y = 0; y < height; ++y) {
        uchar* row = img.scanLine(y);
        const int paperG = 236 + 12 * y / height;
        const bool inPhotoRows = y >= photo.top() && y <= photo.bottom();
        const double py = double(y - photo.top()) / photo.height();
        for (int x = 0; x < width; ++x) {
            uchar* p = row + 3 * x;
            if (inPhotoRows && x >= photo.left() && x <= photo.right()) {
                const double px = double(x - photo.left()) / photo.width();
                const double wave = std::sin(px * 9.0 + py * 5.0) * 0.5 + 0.5;
                p[0] = uchar(40 + 180 * px * wave);
                p[1] = uchar(60 + 150 * py);
                p[2] = uchar(200 - 140 * wave * py);
            } else {
                p[0] = uchar(240 + 10 * x / width);
                p[1] = uchar(paperG);
                p[2] = uchar(226 + 8 * x / width);
            }
        }
    }

    // Text: lines about 12 pt apart, words of narrow glyphs built from two or three strokes.
    {
        QPainter painter(&img);
        Rng rng(seed);
        const int pitch = std::max(6, dpi * 17 / 100);
        const int glyphH = std::max(3, pitch * 55 / 100);
        const int stroke = std::max(1, dpi / 110);
        const int left = width / 10, right = width * 9 / 10;
        for (int base = photo.bottom() + 2 * pitch; base + pitch < height * 95 / 100; base += pitch) {
            const QColor ink(rng.range(10, 40), rng.range(10, 40), rng.range(20, 60));
            int x = left;
            const int lineEnd = rng.range(0, 7) == 0 ? left + (right - left) * rng.range(20, 80) / 100 : right;
            while (x < lineEnd) {
                const int letters = rng.range(2, 9);
                for (int i = 0; i < letters && x < lineEnd; ++i) {
                    const int w = glyphH * rng.range(30, 65) / 100;
                    const int strokes = rng.range(2, 3);
                    for (int s = 0; s < strokes; ++s) {
                        if (rng.next() & 1)
                            painter.fillRect(x + rng.range(0, std::max(0, w - stroke)), base - glyphH, stroke, glyphH, ink);
                        else
                            painter.fillRect(x, base - glyphH + rng.range(0, glyphH - stroke), w, stroke, ink);
                    }
                    x += w + std::max(1, glyphH / 8);
                }
                x += glyphH / 2;
            }
        }
    }

    Rng noise(seed * 2654435761u + 1);
    for (int y = 0; y < height; ++y) {
        uchar* row = img.scanLine(y);
        for (int x = 0; x < width * 3; ++x) {
            const int v = row[x] + int(noise.next() % 9) - 4;
            row[x] = uchar(std::clamp(v, 0, 255));
        }
    }
    return img;
}

// A4 in pixels at the given resolution.
inline QSize a4Pixels(int dpi)
{
    return QSize(int(210.0 / 25.4 * dpi + 0.5), int(297.0 / 25.4 * dpi + 0.5));
}

// One run of a program as a child process: wall time, its own peak memory, how it ended.
struct ChildRun {
    bool started = false;
    bool timedOut = false;
    int exitCode = -1;   // -1 when killed by a signal
    double seconds = 0;
    long maxRssKb = 0;   // peak resident set of the program, when asked for (else 0)
    QByteArray output;   // standard output and standard error
    bool ok() const { return started && !timedOut && exitCode == 0; }
};

inline QString timeProgram()
{
    return QFileInfo(QStringLiteral("/usr/bin/time")).isExecutable() ? QStringLiteral("/usr/bin/time") : QString();
}

// Runs argv[0] (searched in PATH) with the current environment plus `set` ("NAME=value")
// (later ones win) and without `unset`, in its own process group, which is killed after timeoutSeconds.
// With measurePeak the program runs under /usr/bin/time, which reports the program's own
// peak: a spawned child's ru_maxrss also counts the memory of the process it was spawned
// from (the address space before exec), which here may hold whole pages.
inline ChildRun runChild(const QStringList& argvIn, const QStringList& set = {},
                         const QStringList& unset = {}, double timeoutSeconds = 300, bool measurePeak = false)
{
    ChildRun r;
    const QString tag = QStringLiteral("%1/kelvo-bench-%2-%3").arg(QDir::tempPath()).arg(::getpid()).arg(quintptr(&r));
    const QString outName = tag + QStringLiteral(".log");
    const QString peakName = tag + QStringLiteral(".peak");
    QStringList argv = argvIn;
    if (measurePeak && !timeProgram().isEmpty())
        argv = QStringList{timeProgram(), QStringLiteral("-f"), QStringLiteral("%M"), QStringLiteral("-o"), peakName}
               + argvIn;

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        const QString entry = QString::fromLocal8Bit(*e);
        const QString name = entry.section(QLatin1Char('='), 0, 0);
        bool drop = unset.contains(name);
        for (const QString& s : set)
            drop = drop || s.section(QLatin1Char('='), 0, 0) == name;
        if (!drop)
            envStore.push_back(*e);
    }
    for (qsizetype i = 0; i < set.size(); ++i) {
        // A later setting of the same name wins.
        bool later = false;
        for (qsizetype k = i + 1; k < set.size(); ++k)
            later = later || set[k].section(QLatin1Char('='), 0, 0) == set[i].section(QLatin1Char('='), 0, 0);
        if (!later)
            envStore.push_back(set[i].toStdString());
    }
    std::vector<char*> envp;
    for (std::string& s : envStore)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStore;
    for (const QString& a : argv)
        argStore.push_back(a.toStdString());
    std::vector<char*> args;
    for (std::string& s : argStore)
        args.push_back(s.data());
    args.push_back(nullptr);

    const std::string outPath = outName.toStdString();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);

    const double t0 = now();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        r.output = QByteArray("cannot start ") + args[0] + ": " + std::strerror(rc);
        return r;
    }
    r.started = true;
    int status = 0;
    for (;;) {
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid)
            break;
        if (w < 0) {
            status = -1;
            break;
        }
        if (now() - t0 > timeoutSeconds) {
            ::kill(-pid, SIGKILL); // the child's own process group: it and what it started
            ::waitpid(pid, &status, 0);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    r.seconds = now() - t0;
    if (!r.timedOut && status != -1 && WIFEXITED(status))
        r.exitCode = WEXITSTATUS(status);
    QFile out(outName);
    if (out.open(QIODevice::ReadOnly))
        r.output = out.readAll();
    out.remove();
    QFile peak(peakName);
    if (peak.open(QIODevice::ReadOnly)) {
        // The last line is the number; a line before it says how a killed program ended.
        const QList<QByteArray> lines = peak.readAll().trimmed().split('\n');
        r.maxRssKb = lines.isEmpty() ? 0 : lines.last().trimmed().toLong();
    }
    peak.remove();
    return r;
}

// Path of a program in PATH, empty when there is none.
// Before Qt starts: no display needed, and the PDF engine module taken from the build
// directory (it is built next to KelvoBild, not next to the benchmarks).
inline void prepareEnvironment()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("KELVO_MODULE_DIR"))
        qputenv("KELVO_MODULE_DIR", KELVO_BINARY_DIR);
}

// The "name=value" lines a child process printed (other lines, such as messages, left out).
inline std::map<QString, QString> childValues(const QByteArray& out)
{
    std::map<QString, QString> m;
    for (const QByteArray& line : out.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && !line.startsWith("message") && !line.left(eq).contains(' '))
            m[QString::fromUtf8(line.left(eq))] = QString::fromUtf8(line.mid(eq + 1)).trimmed();
    }
    return m;
}

inline QString findProgram(const QString& name)
{
    for (const QString& dir : qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QFileInfo fi(dir + QLatin1Char('/') + name);
        if (fi.isFile() && fi.isExecutable())
            return fi.absoluteFilePath();
    }
    return {};
}

inline void heading(const char* title)
{
    std::printf("\n=== %s ===\n", title);
    std::fflush(stdout);
}

// One line that run.sh gathers into its summary.
inline void result(const char* bench, const QString& text)
{
    std::printf("RESULT %s: %s\n", bench, qPrintable(text));
    std::fflush(stdout);
}

inline QString verdict(double value, double target)
{
    if (std::isnan(value))
        return QStringLiteral("n/a");
    return value <= target ? QStringLiteral("meets target <= %1").arg(target)
                           : QStringLiteral("ABOVE target <= %1").arg(target);
}

} // namespace bench
