// The scanner layer over SANE: TwainLayer's session, negotiation and acquisition on top of
// libsane. Negotiation only records what the session asks for; acquire() maps it onto the
// device's options, reads the pages on a worker thread and hands them to the caller on its
// own thread, one at a time, while a local event loop keeps the windows painting.
#pragma once

#include "imaging/Twain.h"

#include <QByteArray>
#include <QImage>
#include <QString>
#include <QStringList>

#include <memory>
#include <utility>
#include <vector>

namespace kelvo {

class SaneTwain final : public TwainLayer {
public:
    // Reads KELVO_SANE_OPTIONS (see SaneTwain.cpp) into extra options.
    SaneTwain();
    ~SaneTwain() override;
    SaneTwain(const SaneTwain&) = delete;
    SaneTwain& operator=(const SaneTwain&) = delete;

    bool isAvailable() override;
    int openSession() override;
    int selectSource() override;
    int startCapabilityNegotiation() override;
    int setCapability(const TwainCapability& cap, int flags) override;
    int setBitsPerPixel(int bitsPerPixel) override;
    int setResolution(const TW_FIX32& x, const TW_FIX32& y) override;
    int setUnit(int unit) override;
    int setImageFrame(const TW_FRAME& frame) override;
    int enableDuplex(int enable) override;
    int endCapabilityNegotiation() override;
    int acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress) override;
    void requestCancel() override;
    int endSession() override;

    // A device option the negotiation has no word for, set at every acquisition after the
    // negotiated settings (value as text: numbers, yes/no, list entries). Replaces an
    // earlier value for the same name.
    void setExtraOption(const QByteArray& name, const QByteArray& value);
    void clearExtraOptions();
    std::vector<std::pair<QByteArray, QByteArray>> extraOptions() const;

    // The device chosen in the source list for this process (empty: none chosen yet).
    static QByteArray currentSource();
    static void setCurrentSource(const QByteArray& deviceName);
    // The device held open by this session; empty when none is open.
    QByteArray openDeviceName() const;

    // Observation of the hand-over between reader and caller, for tests: pages the reader
    // has put into the queue in the current (or last) acquisition, and the most that ever
    // waited there at once.
    int pagesQueued() const;
    int maxPagesWaiting() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// --- Pure mappings, testable without a scanner -------------------------------------------

// What a value of the `source` option names.
bool namesFeeder(const QString& source);        // ADF, Automatic Document Feeder, Feeder, …
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
// 8. An empty mode keeps the device's mode; depth 0 keeps its depth.
struct ModeChoice {
    QString mode;
    int depth = 0;
    bool operator==(const ModeChoice&) const = default;
};
ModeChoice chooseMode(const QStringList& modes, const std::vector<int>& depths, int bitsPerPixel);

// An entry of an option's string list that switches a feature on (an "auto", "on", "yes"
// value) or off ("off", "none", "no", "disable"); -1 when none fits.
int chooseSwitchIndex(const QStringList& values, bool on);

// One frame as SANE delivers it (format uses the SANE_FRAME_* numbers: 0 gray, 1 RGB,
// 2 red, 3 green, 4 blue).
struct SaneFrameData {
    int format = 0;
    int depth = 8;
    int pixelsPerLine = 0;
    int bytesPerLine = 0;
    int lines = 0;  // -1: not known in advance; the data decides
    QByteArray data;
};

// The page from one gray or RGB frame, or from the red, green and blue frames of a
// three-pass scanner. 1-bit gray becomes Format_Mono (1 = black, padding bits ignored),
// 8/16-bit gray Grayscale8, colour RGB888 (16-bit samples scaled to 8). Fewer rows than
// announced give a shorter page; a missing tail of the last row is white. A null image
// with *result set (ACQUIRE_BAD_DATA, ACQUIRE_NO_MEMORY) when the frames cannot be read.
QImage pageFromFrames(const std::vector<SaneFrameData>& frames, int* result);
// The page from a single 8-bit frame whose rows need no conversion, taking over its data;
// a null image (and the frame untouched) otherwise.
QImage adoptFrame(std::vector<SaneFrameData>& frames);

} // namespace kelvo
