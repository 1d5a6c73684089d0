// Runs the built program as a calling application would: unattended, without a display, on
// the virtual scanner, from a copy in a test directory so its hand-off file lands there.
#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

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
ProgramRun runProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env = {},
                      bool keepHandOff = false);

// The same in two steps, for runs that overlap or are interrupted: starts the program (the
// caller owns the process) and, later, waits for it and collects what it left.
QProcess* startProgram(const QString& dir, const QStringList& args, const QMap<QString, QString>& env = {},
                       bool keepHandOff = false);
ProgramRun finishProgram(QProcess& process, const QString& dir);

// Files in `dir`, hidden ones included, sorted by name.
QStringList filesIn(const QString& dir);

} // namespace kelvo::test
