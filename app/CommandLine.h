// The command line of a calling application: switches (/P300), run modes (-S) and the target
// file name, read from left to right into ScanSettings. A pure function, so it is tested
// without a display.
#pragma once

#include "scan/ScanSettings.h"

#include <QLocale>
#include <QStringList>

#include <optional>

namespace kelvo {

struct CommandLineResult {
    ScanSettings settings;
    std::optional<int32_t> pageCounter; // start value given by /+
    // Set when a number did not convert: the text of the error box. Reading stopped at that
    // argument, and the run-mode rules after the last argument were not applied.
    QString conversionError;
    // Values refused because they do not fit their fields or hold bytes that are not text in
    // the system's encoding, one message each.
    QStringList refused;
    // The target file name was refused: an unattended run must not scan into another name.
    bool targetRefused = false;
    bool completed() const { return conversionError.isEmpty(); }
};

// `arguments` without the program name. Numbers of /F and /P follow `locale`.
CommandLineResult parseCommandLine(const QStringList& arguments, const QLocale& locale);

// The command line as shown in the main window: the words joined by blanks, a word with a
// blank in double quotes. Empty words are no arguments and are left out.
QString displayCommandLine(const QStringList& argv);

// Switches begin with a slash, and so do absolute paths here. An argument is a path, not a
// switch, when a further slash follows the first one — except after V, whose value is the
// viewer program's path (/V/usr/bin/eog). No switch value contains a slash otherwise.
bool isAbsolutePath(const QString& arg);

// OutputFormat from a target file name: the upper-cased text after the last dot of the final
// path component ('/' separates); empty without a dot.
QString extensionFormat(const QString& fileName);

} // namespace kelvo
