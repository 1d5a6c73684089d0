// Tells the calling application which file a scan produced: the hand-off file next to the
// executable and, for more than one page, a notification to its main window.
#pragma once

#include <QByteArray>
#include <QString>

#include "platform/Notifier.h"

namespace kelvo {

// fileName ' count ' code, the count in decimal with its sign; no terminator, no line end.
QByteArray handOffRecord(const QByteArray& fileName, int count, const QByteArray& code);

// The record framed for the notification: 0x04 "OBILD01" record 0x04.
QByteArray notificationText(const QByteArray& record);

// Creates directory/SendToKelvo.TXT holding the record unless something of that name exists
// already (which stays untouched), then, for a count above 1, sends the notification. The
// file appears complete or not at all. A file that could not be written is one line on
// standard error, naming it and the reason. Callers pass executableDir() as the directory.
void WriteHandOff(const QByteArray& fileName, int count, const QByteArray& code,
                  const QString& directory, Notifier& notifier);

} // namespace kelvo
