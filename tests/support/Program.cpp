#include "support/Program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

namespace kelvo::test {

ProgramRun runProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env,
                      bool keepHandOff, const std::function<void()>& whileRunning)
{
    const QString exe = dir + QStringLiteral("/KelvoBild");
    if (!QFile::exists(exe))
        QFile::copy(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild"), exe);
    const QString handOffFile = dir + QStringLiteral("/SendToKelvo.TXT");
    if (!keepHandOff)
        QFile::remove(handOffFile);
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KELVO_SANE_OPTIONS"})
        e.remove(QLatin1String(name));
    e.insert(QStringLiteral("SANE_CONFIG_DIR"), QStringLiteral(KELVO_SOURCE_DIR "/sane"));
    e.insert(QStringLiteral("TMP"), dir);
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        e.insert(it.key(), it.value());
    QProcess p;
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(dir);
    p.start(exe, args);
    ProgramRun r;
    QElapsedTimer running;
    running.start();
    bool finished = false;
    if (whileRunning) {
        while (!(finished = p.waitForFinished(50)) && running.elapsed() < 180000)
            whileRunning();
    } else {
        finished = p.waitForFinished(180000);
    }
    if (!finished) {
        p.kill();
        p.waitForFinished();
        r.stderrText = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.stderrText = QString::fromLocal8Bit(p.readAllStandardError());
    for (const QString& l : r.stderrText.split(QLatin1Char('\n')))
        if (!l.isEmpty() && !l.startsWith(QLatin1String("QStandardPaths")))
            r.messages << l;
    QFile h(handOffFile);
    r.handOff = h.open(QIODevice::ReadOnly) ? h.readAll() : QByteArray("<none>");
    return r;
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace kelvo::test
