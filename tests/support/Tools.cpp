#include "support/Tools.h"

#include "support/System.h"

namespace kelvo::test {

ToolResult runTool(const QString& program, const QStringList& args, int timeoutMs)
{
    const HostRun run = runHostTool(program, args, timeoutMs, true);
    ToolResult r;
    if (!run.started) {
        r.out = QStringLiteral("could not start ") + program;
        return r;
    }
    r.exitCode = run.exitCode;
    r.out = QString::fromLocal8Bit(run.out);
    return r;
}

ToolOutput runToolRaw(const QString& program, const QStringList& args, int timeoutMs)
{
    const HostRun run = runHostTool(program, args, timeoutMs, false);
    ToolOutput t;
    if (!run.started || run.exitCode == -1) {
        t.err = (program + QStringLiteral(" did not run")).toUtf8();
        return t;
    }
    t.exitCode = run.exitCode;
    t.out = run.out;
    t.err = run.err;
    return t;
}

Identified identify(const QString& file)
{
    Identified id;
    const ToolResult r = runTool(QStringLiteral("gm"),
                                 {QStringLiteral("identify"), QStringLiteral("-format"),
                                  QStringLiteral("%m|%w|%h|%q|%r|%x|%y|%U\\n"), file});
    id.raw = r.out;
    // The first image's line; a multi-image file gives one line each.
    const QStringList f = r.out.trimmed().section(QLatin1Char('\n'), 0, 0).split(QLatin1Char('|'));
    if (r.exitCode != 0 || f.size() < 8)
        return id;
    id.format = f[0];
    id.width = f[1].toInt();
    id.height = f[2].toInt();
    const int depth = f[3].toInt();
    const QString type = f[4].toLower();
    if (type.contains(QLatin1String("bilevel")))
        id.bitsPerPixel = 1;
    else if (type.contains(QLatin1String("gray")) || type.contains(QLatin1String("palette")))
        id.bitsPerPixel = 8;
    else
        id.bitsPerPixel = depth * 3;
    const double factor = f[7].contains(QLatin1String("Centimeter")) ? 2.54 : 1.0;
    id.xDpi = f[5].section(QLatin1Char(' '), 0, 0).toDouble() * factor;
    id.yDpi = f[6].section(QLatin1Char(' '), 0, 0).toDouble() * factor;
    return id;
}

} // namespace kelvo::test
