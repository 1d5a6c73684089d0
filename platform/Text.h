// Narrow (8-bit) text: the locale's encoding, UTF-8 on current systems. File names, format
// names, viewer command lines and hand-off texts cross into it where the callers expect bytes.
#pragma once

#include <QByteArray>
#include <QString>

namespace kelvo {

QByteArray toNarrow(const QString& s);
QString fromNarrow(const QByteArray& s);
// Upper-cases text the way switch values and format names are: through the narrow
// encoding (characters it cannot hold do not survive), then by Unicode's rules, the same in
// every locale.
QString upperNarrow(const QString& s);
// True when `bytes` survive the way through the narrow encoding unchanged: a file name that
// does not is refused, never changed.
bool isExactNarrow(const QByteArray& bytes);

} // namespace kelvo
