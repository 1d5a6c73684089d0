#include "app/CommandLine.h"

#include "platform/Text.h"

namespace kelvo {

namespace {

// The platform's text-to-number conversion: the locale's decimal separator, blanks around
// the number and an exponent allowed; thousands separators are not, so "1.000" never
// silently becomes a thousand.
std::optional<double> toNumber(const QString& text, const QLocale& locale)
{
    QLocale l(locale);
    l.setNumberOptions(QLocale::RejectGroupSeparator);
    bool ok = false;
    const double v = l.toDouble(text.trimmed(), &ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QString conversionErrorText(const QString& text)
{
    return QStringLiteral("'%1' ist kein gültiger Gleitkommawert.").arg(text);
}

QString tooLong(const QString& what, int limit, const QString& value)
{
    return QStringLiteral("%1 zu lang (höchstens %2 Zeichen): %3").arg(what).arg(limit).arg(value);
}

// An argument whose bytes were not text in the system's encoding arrives with replacement
// characters in their place. Such a name is refused: changed, it would name another file
// (two different names could even become the same one).
bool lostBytes(const QString& value)
{
    return value.contains(QChar::ReplacementCharacter);
}

QString notEncodable(const QString& what, const QString& value)
{
    return QStringLiteral("%1 ist in der Zeichenkodierung des Systems nicht gültig: %2").arg(what, value);
}

} // namespace

bool isAbsolutePath(const QString& arg)
{
    return arg.size() > 2 && arg.at(0) == QLatin1Char('/') && arg.at(1) != QLatin1Char('V')
           && arg.indexOf(QLatin1Char('/'), 1) > 0;
}

QString extensionFormat(const QString& fileName)
{
    const QString finalComponent = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = finalComponent.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return {};
    return finalComponent.mid(dot + 1).toUpper();
}

QString displayCommandLine(const QStringList& argv)
{
    QStringList words;
    for (const QString& a : argv) {
        if (a.isEmpty())
            continue;
        words << (a.contains(QLatin1Char(' ')) ? QLatin1Char('"') + a + QLatin1Char('"') : a);
    }
    return words.join(QLatin1Char(' '));
}

CommandLineResult parseCommandLine(const QStringList& arguments, const QLocale& locale)
{
    CommandLineResult r;
    ScanSettings& s = r.settings;

    for (const QString& arg : arguments) {
        if (arg.isEmpty())
            continue;
        const QChar first = arg.at(0);
        if (first == QLatin1Char('/') && !isAbsolutePath(arg)) {
            if (arg.size() < 2)
                continue;
            const QChar letter = arg.at(1);
            const QString value = upperNarrow(arg.mid(2));
            switch (letter.unicode()) {
            case '+': {
                bool ok = false;
                const int n = value.trimmed().toInt(&ok, 10);
                r.pageCounter = ok ? n : 2;
                break;
            }
            case 'B': s.BitsPerPixel = 1; break;
            case 'G': s.BitsPerPixel = 8; break;
            case 'R': s.BitsPerPixel = 24; break;
            case 'C':
                if (value.size() > kMaxFormatChars)
                    r.refused << tooLong(QStringLiteral("Formatname"), kMaxFormatChars, value);
                else
                    s.OutputFormat = value;
                break;
            case 'D':
            case 'd': s.TransmissiveLight = 1; break;
            case 'I':
            case 'i': s.InvertImage = 1; break;
            case 'J': s.ShowSourceUi = 1; break;
            case 'L': s.BlankPageMode = -1; break;
            case 'l': s.BlankPageMode = -2; break;
            case 'S': s.SelectSource = 1; break;
            case 'U': s.AutoRotate = 1; break;
            case 'u': s.AutoRotate = 0; break;
            case 'X': s.ExitAfterRun = 1; break;
            case 'Z': s.Duplex = 1; break;
            case 'P': {
                const auto v = toNumber(value, locale);
                if (!v) {
                    r.conversionError = conversionErrorText(value);
                    return r;
                }
                s.Resolution = *v;
                break;
            }
            case 'F': {
                // Height first, then width: a value without X stores its height and then fails
                // on the empty width.
                const qsizetype x = value.indexOf(QLatin1Char('X'));
                const QString height = x < 0 ? value : value.mid(x + 1);
                const QString width = x < 0 ? QString() : value.left(x);
                const auto h = toNumber(height, locale);
                if (!h) {
                    r.conversionError = conversionErrorText(height);
                    return r;
                }
                s.FrameHeightMm = *h * 10.0;
                const auto w = toNumber(width, locale);
                if (!w) {
                    r.conversionError = conversionErrorText(width);
                    return r;
                }
                s.FrameWidthMm = *w * 10.0;
                break;
            }
            case 'V': {
                // The program keeps its case: an upper-cased path names no file here.
                const QString program = fromNarrow(toNarrow(arg.mid(2)));
                if (value.size() == 1) {
                    s.ViewerMode = value.at(0).toLatin1();
                } else if (lostBytes(program)) {
                    r.refused << notEncodable(QStringLiteral("Anzeigeprogramm"), program);
                } else if (program.size() > kMaxFileNameChars) {
                    r.refused << tooLong(QStringLiteral("Anzeigeprogramm"), kMaxFileNameChars, program);
                } else {
                    s.ViewerProgram = program;
                }
                break;
            }
            default:
                break; // unknown switches are ignored
            }
        } else if (first == QLatin1Char('-')) {
            const QChar mode = arg.size() > 1 ? arg.at(1) : QChar();
            s.RunMode = (mode == QLatin1Char('A') || mode == QLatin1Char('C') || mode == QLatin1Char('S'))
                            ? static_cast<char>(mode.unicode())
                            : 'V';
        } else {
            if (arg.size() > kMaxFileNameChars) {
                r.refused << tooLong(QStringLiteral("Dateiname"), kMaxFileNameChars, arg);
                r.targetRefused = true;
                continue;
            }
            if (lostBytes(arg)) {
                r.refused << notEncodable(QStringLiteral("Dateiname"), arg);
                r.targetRefused = true;
                continue;
            }
            r.targetRefused = false; // a later valid name is the one that counts
            s.TargetFileName = arg;
            if (s.OutputFormat.isEmpty()) {
                const QString ext = extensionFormat(arg);
                if (ext.size() <= kMaxFormatChars)
                    s.OutputFormat = ext;
            }
        }
    }
    if (s.RunMode == 'V')
        s.ExitAfterRun = 0;
    return r;
}

} // namespace kelvo
