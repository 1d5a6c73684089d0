#include "platform/Text.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace kelvo {

QByteArray toNarrow(const QString& s)
{
    QStringEncoder enc(QStringEncoder::System);
    return enc.encode(s);
}

QString fromNarrow(const QByteArray& s)
{
    QStringDecoder dec(QStringDecoder::System);
    return dec.decode(s);
}

QString upperNarrow(const QString& s)
{
    // Unicode's locale-independent rule, as Windows upper-cases: i stays I under a Turkish
    // locale, so /Cgif still names GIF.
    return fromNarrow(toNarrow(s)).toUpper();
}

bool isExactNarrow(const QByteArray& bytes)
{
    return toNarrow(fromNarrow(bytes)) == bytes;
}

} // namespace kelvo
