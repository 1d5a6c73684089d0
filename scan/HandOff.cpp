#include "scan/HandOff.h"

#include "platform/FileSystem.h"

#include <QFile>

#include <cstdio>

namespace kelvo {

namespace {

constexpr char kFileName[] = "/SendToKelvo.TXT";
constexpr char kFrame = '\x04';

// Creates `path` holding `bytes`, complete or not at all, and never over an existing file (a
// symbolic link counts): a caller that reads the file the moment it appears reads all of it.
// A failure is one line on standard error; the session goes on.
// Not synced to disk: the file is a message to a caller that reads it at once, and one that
// a power failure interrupts is gone with its caller. The sync (a journal commit, 5 to 10 ms
// on a disk) would only delay that caller; the pages themselves are synced.
void createOnce(const QString& path, const QByteArray& bytes)
{
    bool exists = false;
    QString why;
    if (createNewFile(path, bytes, &exists, &why))
        return;
    if (exists)
        why = QStringLiteral("die Datei besteht bereits (der Aufrufer hat sie nicht gelöscht)");
    std::fprintf(stderr, "SendToKelvo.TXT nicht geschrieben: %s: %s\n", QFile::encodeName(path).constData(),
                 why.toLocal8Bit().constData());
    std::fflush(stderr);
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
