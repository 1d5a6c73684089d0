#include "scanner/sane/SaneMapping.h"

#include <QRegularExpression>

#include <algorithm>
#include <initializer_list>

namespace kelvo {

namespace {

QStringList tokens(const QString& s)
{
    static const QRegularExpression separators(QStringLiteral("[^\\p{L}\\p{N}]+"));
    return s.toLower().split(separators, Qt::SkipEmptyParts);
}

bool hasToken(const QStringList& t, const char* word)
{
    return t.contains(QLatin1String(word));
}

bool hasTokenPrefix(const QStringList& t, const char* prefix)
{
    return std::any_of(t.begin(), t.end(), [prefix](const QString& w) { return w.startsWith(QLatin1String(prefix)); });
}

bool containsAny(const QString& lower, std::initializer_list<const char*> parts)
{
    return std::any_of(parts.begin(), parts.end(), [&lower](const char* p) { return lower.contains(QLatin1String(p)); });
}

bool namesBackOnly(const QString& source)
{
    return hasToken(tokens(source), "back") && !namesDuplex(source);
}

} // namespace

bool namesTransparency(const QString& source)
{
    const QString l = source.toLower();
    const QStringList t = tokens(source);
    return containsAny(l, {"transparen", "film", "slide", "negative", "positive"}) || hasToken(t, "tma")
        || hasToken(t, "xpa") || hasTokenPrefix(t, "tpu");
}

bool namesFeeder(const QString& source)
{
    if (namesTransparency(source))
        return false;
    const QString l = source.toLower();
    // A two-sided source feeds sheets, even when named just "Duplex" (hpaio).
    return hasTokenPrefix(tokens(source), "adf") || containsAny(l, {"feeder", "automatic document", "sheetfed", "sheet-fed"})
        || namesDuplex(source);
}

bool namesDuplex(const QString& source)
{
    return containsAny(source.toLower(), {"duplex", "two-sided", "two sided", "2-sided"});
}

bool namesFlatbed(const QString& source)
{
    const QString l = source.toLower();
    return containsAny(l, {"flatbed", "flat bed", "platen", "glass", "reflective", "document table"})
        || hasToken(tokens(source), "normal");
}

int chooseSourceIndex(const QStringList& sources, bool feeder, bool duplex, bool transmissive)
{
    auto first = [&sources](auto&& pred) {
        for (int i = 0; i < sources.size(); ++i) {
            if (pred(sources[i]))
                return i;
        }
        return -1;
    };
    if (transmissive) {
        const int i = first([](const QString& s) { return namesTransparency(s); });
        if (i >= 0)
            return i;
    }
    if (feeder) {
        int i = -1;
        if (duplex)
            i = first([](const QString& s) { return namesFeeder(s) && namesDuplex(s); });
        if (i < 0)
            i = first([](const QString& s) { return namesFeeder(s) && !namesDuplex(s) && !namesBackOnly(s); });
        if (i >= 0)
            return i;
    }
    return first([](const QString& s) { return namesFlatbed(s); });
}

int chooseDuplexIndex(const QStringList& values, bool duplex)
{
    for (int i = 0; i < values.size(); ++i) {
        if (namesDuplex(values[i]) == duplex)
            return i;
    }
    return -1;
}

int chooseSwitchIndex(const QStringList& values, bool on)
{
    static const std::vector<const char*> onWords = {"auto", "automatic", "on", "yes", "enable", "enabled", "true"};
    static const std::vector<const char*> offWords = {"off", "none", "no", "disable", "disabled", "false"};
    const std::vector<const char*>& words = on ? onWords : offWords;
    for (int i = 0; i < values.size(); ++i) {
        const QStringList t = tokens(values[i]);
        for (const char* w : words) {
            if (hasToken(t, w))
                return i;
        }
    }
    return -1;
}

namespace {

enum class ModeKind { Other, Lineart, Halftone, Gray, Color };

// Kind of a `mode` entry, and whether it is a plain one (0) or an unusual depth (1).
ModeKind classifyMode(const QString& mode, int* rank)
{
    const QString l = mode.toLower();
    const QStringList t = tokens(mode);
    *rank = 0;
    if (containsAny(l, {"negative", "positive", "slide", "film", "infrared"}) || hasToken(t, "rgbi"))
        return ModeKind::Other;
    const bool color = containsAny(l, {"color", "colour"}) || hasTokenPrefix(t, "rgb");
    const bool halftone = containsAny(l, {"halftone", "dither", "diffusion"});
    const bool lineart = containsAny(l, {"lineart", "line art", "line-art", "binary", "black & white",
                                         "black and white", "black&white", "blackandwhite", "b&w", "bilevel",
                                         "bi-level", "monochrome"})
        || hasToken(t, "bw") || hasToken(t, "mono");
    const bool gray = containsAny(l, {"gray", "grey"});
    // Depths other than 8 (or 24 for colour) named in the entry: "Gray16", "Color (48 bits)".
    static const QRegularExpression number(QStringLiteral("(\\d+)"));
    for (auto it = number.globalMatch(l); it.hasNext();) {
        const int n = it.next().captured(1).toInt();
        if (n != 8 && n != 24 && n != 256)
            *rank = 1;
    }
    if (halftone)
        return color ? ModeKind::Other : ModeKind::Halftone;
    if (lineart)
        return color ? ModeKind::Other : ModeKind::Lineart;
    if (gray)
        return color ? ModeKind::Other : ModeKind::Gray;
    if (color)
        return ModeKind::Color;
    return ModeKind::Other;
}

int bestMode(const QStringList& modes, ModeKind kind)
{
    int best = -1;
    int bestRank = 2;
    for (int i = 0; i < modes.size(); ++i) {
        int rank = 0;
        if (classifyMode(modes[i], &rank) == kind && rank < bestRank) {
            best = i;
            bestRank = rank;
        }
    }
    return best;
}

} // namespace

ModeChoice chooseMode(const QStringList& modes, const std::vector<int>& depths, int bitsPerPixel)
{
    auto allows = [&depths](int depth) { return std::find(depths.begin(), depths.end(), depth) != depths.end(); };
    ModeChoice c;
    if (bitsPerPixel <= 1) {
        if (const int i = bestMode(modes, ModeKind::Lineart); i >= 0)
            return {modes[i], 0};
        if (const int i = bestMode(modes, ModeKind::Gray); i >= 0 && allows(1))
            return {modes[i], 1};
        if (const int i = bestMode(modes, ModeKind::Halftone); i >= 0)
            return {modes[i], 0};
        if (modes.isEmpty() && allows(1)) {
            c.depth = 1;
            return c;
        }
        // Nothing of one bit (eSCL scanners through airscan): the nearest richer mode; the
        // page is thresholded after reading.
    }
    // 8 bits: gray, else colour (converted to gray after reading); 24 bits: colour only.
    int i = bitsPerPixel <= 16 ? bestMode(modes, ModeKind::Gray) : -1;
    if (i < 0)
        i = bestMode(modes, ModeKind::Color);
    if (i >= 0)
        c.mode = modes[i];
    else if (!modes.isEmpty())
        return c;
    if (allows(8))
        c.depth = 8;
    return c;
}

} // namespace kelvo
