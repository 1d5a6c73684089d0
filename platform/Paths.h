// Directories the program writes to: next to the executable (hand-off file) and the
// temporary directory (PDF page bitmaps).
#pragma once

#include <QString>

namespace kelvo {

// Directory of the running executable, without a trailing slash.
QString executableDir();
// TMP when set and not empty, else the system temporary directory; never the root.
QString tempDir();

} // namespace kelvo
