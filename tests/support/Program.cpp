#include "support/Program.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <memory>

namespace kelvo::test {

QProcess* startProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env,
                       bool keepHandOff)
{
    const QString exe = dir + QStringLiteral("/KelvoBild");
    if (!QFile::exists(exe))
        QFile::copy(QStringLiteral(KELVO_BINARY_DIR "/KelvoBild"), exe);
    if (!keepHandOff)
        QFile::remove(dir + QStringLiteral("/SendToKelvo.TXT"));
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "KELVO_SANE_OPTIONS"})
        e.remove(QLatin1String(name));
    e.insert(QStringLiteral("SANE_CONFIG_DIR"), QStringLiteral(KELVO_SOURCE_DIR "/sane"));
    e.insert(QStringLiteral("TMP"), dir);
    for (auto it = env.cbegin(); it != env.cend(); ++it)
        e.insert(it.key(), it.value());
    auto* p = new QProcess;
    p->setProcessEnvironment(e);
    p->setWorkingDirectory(dir);
    p->start(exe, args);
    p->waitForStarted();
    return p;
}

ProgramRun finishProgram(QProcess& p, const QString& dir, const std::function<void()>& whileRunning, int timeoutMs)
{
    ProgramRun r;
    QElapsedTimer running;
    running.start();
    bool finished = false;
    if (whileRunning) {
        while (!(finished = p.waitForFinished(50)) && running.elapsed() < timeoutMs)
            whileRunning();
    } else {
        finished = p.waitForFinished(timeoutMs);
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
    QFile h(dir + QStringLiteral("/SendToKelvo.TXT"));
    r.handOff = h.open(QIODevice::ReadOnly) ? h.readAll() : QByteArray("<none>");
    return r;
}

ProgramRun runProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env,
                      bool keepHandOff, const std::function<void()>& whileRunning)
{
    std::unique_ptr<QProcess> p(startProgram(dir, args, env, keepHandOff));
    return finishProgram(*p, dir, whileRunning);
}

QStringList filesIn(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace kelvo::test
