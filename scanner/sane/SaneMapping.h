// Which entry of a device's option lists means what the session asks for: feeder, duplex,
// transparency or flatbed among the `source` values, the `mode` and `depth` for a number of
// bits per pixel, on/off values of switch options. Pure functions over names, matched by
// meaning and never by backend, so every backend's wording can be tested without a scanner.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace kelvo {

// What a value of the `source` option names.
bool namesFeeder(const QString& source);        // ADF, Automatic Document Feeder, Feeder, Duplex, …
bool namesDuplex(const QString& source);
bool namesTransparency(const QString& source);  // transparency unit, film, slide, negative, …
bool namesFlatbed(const QString& source);

// Index into the `source` option's list (-1: keep the device's setting).
//  - transmissive: the first transparency value, when there is one;
//  - feeder: with duplex the first feeder value naming duplex, else (and without duplex)
//    the first feeder value that is neither duplex nor back side only;
//  - otherwise (or when nothing above fits) the value naming the flatbed, if any.
int chooseSourceIndex(const QStringList& sources, bool feeder, bool duplex, bool transmissive);

// For a string duplex option such as `adf-mode` (Simplex/Duplex): the entry to use, or -1.
int chooseDuplexIndex(const QStringList& values, bool duplex);

// Mode and depth for 1, 8 or 24 bits per pixel. 1: Lineart (or Binary, Black & White, …),
// else Gray with depth 1, else a halftone mode; 8: Gray with depth 8; 24: Color with depth
// 8. A device without any of these gets the nearest richer mode (Gray, else Color) and the
// page is converted after reading (see pageInDepth). An empty mode keeps the device's mode;
// depth 0 keeps its depth.
struct ModeChoice {
    QString mode;
    int depth = 0;
    bool operator==(const ModeChoice&) const = default;
};
ModeChoice chooseMode(const QStringList& modes, const std::vector<int>& depths, int bitsPerPixel);

// An entry of an option's string list that switches a feature on (an "auto", "on", "yes"
// value) or off ("off", "none", "no", "disable"); -1 when none fits.
int chooseSwitchIndex(const QStringList& values, bool on);

} // namespace kelvo
