// File operations whose safe form differs between systems. None of them follows a link at the
// name (a symbolic link; on Windows also a junction or other reparse point), and none leaves a
// half-written file behind.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <functional>

namespace kelvo {

// Anything at the name, a dangling link included.
bool entryExists(const QString& name);

// Opens `fileName` for reading only when it is a regular file. A FIFO would block in open()
// or read forever, a device would be read without end: both count as missing. The name is
// checked before opening (opening a device can have effects of its own) and the opened file
// again, in case the name was replaced in between.
enum class OpenResult { Opened, Missing, Unreadable };
OpenResult openRegularFile(const QString& fileName, QFile& file);

// Creates `path` holding `bytes`, complete or not at all as a reader sees it, and never over
// anything that stands at the name. Not synced to disk. False on failure, with `*exists` true
// when something stood at the name, and the system's reason in `*why` otherwise.
bool createNewFile(const QString& path, const QByteArray& bytes, bool* exists, QString* why);

// Writes a file under a temporary name next to `target` through `write` (given the open
// stream and the temporary name in the system's 8-bit encoding), then puts it at `target`
// only when every write, flush, sync and close succeeded. Never replaces what the user may not
// replace (see mayBeReplaced). Nothing is left on failure.
bool writeReplacing(const QString& target, const std::function<bool(std::FILE*, const char*)>& write);

} // namespace kelvo
