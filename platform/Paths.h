// Directories the program writes to: next to the executable (hand-off file) and a directory
// of its own inside the temporary directory (PDF page bitmaps).
#pragma once

#include <QString>

namespace kelvo {

// Directory of the running executable, without a trailing slash.
QString executableDir();
// TMP when set and not empty, else the system temporary directory; never the root.
QString tempDir();

// A directory inside tempDir() that belongs to this process alone (unique name, mode 0700),
// created on first use. /tmp is shared by every user and every run: pages of one run must
// never meet another's. Empty when it cannot be created.
QString privateTempDir();
// Removes that directory and everything in it; the next privateTempDir() makes a new one.
// Safe to call from a signal handler's aftermath and at exit; does nothing when none exists.
void removePrivateTempDir();
// Removes the private directories in tempDir() that runs of this user left when they were
// killed: each living run holds a lock on its own, so an unlocked one has no owner. Another
// user's directories and anything else are left alone.
void removeAbandonedTempDirs();

} // namespace kelvo
