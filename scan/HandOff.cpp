#include "scan/HandOff.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvo {

namespace {

constexpr char kFileName[] = "/SendToKelvo.TXT";
constexpr char kFrame = '\x04';

void reportNotWritten(const QByteArray& path, const char* reason)
{
    std::fprintf(stderr, "SendToKelvo.TXT nicht geschrieben: %s: %s\n", path.constData(), reason);
    std::fflush(stderr);
}

bool writeAll(int fd, const QByteArray& bytes)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

// Creates `path` holding `bytes`, complete or not at all: the bytes go to a temporary file in
// the same directory, which is then linked to the name. link() fails when anything stands at
// the name (a symbolic link too), so an existing file is never overwritten, and a caller that
// reads the file the moment it appears reads all of it. A failure is one line on standard
// error; the session goes on.
void createOnce(const QString& path, const QByteArray& bytes)
{
    const QByteArray native = QFile::encodeName(path);
    QByteArray temp = native;
    temp.insert(temp.lastIndexOf('/') + 1, '.');
    temp += ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        reportNotWritten(native, std::strerror(errno));
        return;
    }
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = writeAll(fd, bytes) && fchmod(fd, 0644 & ~mask) == 0 && fsync(fd) == 0;
    int error = ok ? 0 : errno;
    ok = close(fd) == 0 && ok;
    if (ok && link(temp.constData(), native.constData()) != 0) {
        ok = false;
        error = errno;
    }
    unlink(temp.constData());
    if (!ok)
        reportNotWritten(native, error == EEXIST ? "die Datei besteht bereits (der Aufrufer hat sie nicht gelöscht)"
                                                 : std::strerror(error ? error : EIO));
}

} // namespace

QByteArray handOffRecord(const QByteArray& fileName, int count, const QByteArray& code)
{
    return fileName + '\'' + QByteArray::number(count) + '\'' + code;
}

QByteArray notificationText(const QByteArray& record)
{
    return kFrame + QByteArrayLiteral("OBILD01") + record + kFrame;
}

void WriteHandOff(const QByteArray& fileName, int count, const QByteArray& code,
                  const QString& directory, Notifier& notifier)
{
    const QByteArray record = handOffRecord(fileName, count, code);
    createOnce(directory + QLatin1String(kFileName), record);
    if (count > 1)
        notifier.notify(notificationText(record));
}

} // namespace kelvo
