#include "platform/Text.h"

#include <QLocale>
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
    return QLocale().toUpper(fromNarrow(toNarrow(s)));
}

} // namespace kelvo
