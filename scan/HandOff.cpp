#include "scan/HandOff.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace kelvo {

namespace {

constexpr char kFileName[] = "/SendToKelvo.TXT";
constexpr char kFrame = '\x04';

// Creates `path` only when nothing of that name exists (a symlink counts: it is not
// followed) and writes `bytes` to it. Failures are silent; the session goes on.
void createOnce(const QString& path, const QByteArray& bytes)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        p += n;
        left -= n;
    }
    close(fd);
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
