// Runs the built program as a calling application would: unattended, without a display, on
// the virtual scanner, from a copy in a test directory so its hand-off file lands there.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

class QProcess;

namespace kelvo::test {

struct ProgramRun {
    int exitCode = -1;
    QString stderrText;
    QByteArray handOff;  // SendToKelvo.TXT next to the program, "<none>" when absent
    QStringList messages; // lines on standard error, Qt's own notes left out
};

// `dir` holds the program copy and its hand-off file (removed before the run). `env` adds to
// or overrides the environment; SANE_CONFIG_DIR defaults to the repository's virtual scanner.
// `whileRunning`, when given, is called about every 50 ms until the program ends (to act
// on it from outside, e.g. stop a server it talks to).
ProgramRun runProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env = {},
                      bool keepHandOff = false, const std::function<void()>& whileRunning = {});

// The same in two steps, for runs that overlap or are interrupted: starts the program (the
// caller owns the process) and, later, waits for it and collects what it left.
QProcess* startProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env = {},
                       bool keepHandOff = false);
// A run that has not ended after `timeoutMs` is killed and reported as "timed out".
ProgramRun finishProgram(QProcess& process, const QString& dir, const std::function<void()>& whileRunning = {},
                         int timeoutMs = 180000);

// Files in `dir`, hidden ones included, sorted by name.
QStringList filesIn(const QString& dir);

} // namespace kelvo::test
