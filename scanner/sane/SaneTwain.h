// The scanner layer over SANE: TwainLayer's session, negotiation and acquisition on top of
// libsane. Negotiation only records what the session asks for; acquire() maps it onto the
// device's options, reads the pages on a worker thread and hands them to the caller on its
// own thread, one at a time, while a local event loop keeps the windows painting.
#pragma once

#include "scanner/sane/SaneMapping.h"
#include "scanner/sane/SanePageImage.h"
#include "scanner/Twain.h"

#include <QByteArray>

#include <memory>
#include <utility>
#include <vector>

namespace kelvo {

struct Acquisition;

class SaneTwain final : public TwainLayer {
public:
    // Reads KELVO_SANE_OPTIONS (see SaneTwain.cpp) into extra options.
    SaneTwain();
    ~SaneTwain() override;
    SaneTwain(const SaneTwain&) = delete;
    SaneTwain& operator=(const SaneTwain&) = delete;

    bool isAvailable() override;
    int openSession() override;
    // The list of scanners; the chosen one is used for the rest of the process.
    // ACQUIRE_SUCCESS: a device was chosen, or dialogs are not allowed (no display) and the
    // default device stays; ACQUIRE_CANCELLED: Abbrechen; ACQUIRE_NO_DEVICE: SANE cannot be
    // used, or OK with no device in the list.
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

    // Whether selectSource() and acquire() with ACQUIRE_SHOW_UI may show their dialogs.
    // By default they may when the program has a usable display (platform/Display) and a
    // QApplication: otherwise selectSource() keeps the default device and acquire() scans with
    // the negotiated settings, each saying so in one line on standard error.
    void setDialogsAllowed(bool allowed);
    bool dialogsAllowed() const;

    // The device chosen in the source list for this process (empty: none chosen yet).
    static QByteArray currentSource();
    static void setCurrentSource(const QByteArray& deviceName);
    // The device held open by this session; empty when none is open.
    QByteArray openDeviceName() const;

    // Observation of the hand-over between reader and caller, for tests: pages the reader
    // has put into the queue in the current (or last) acquisition, and the most that ever
    // waited there at once.
    int pagesQueued() const;
    // Pages read to their end in the current acquisition: each is handed over, even after a stop.
    int pagesRead() const;
    int maxPagesWaiting() const;
    // Page buffers the reader allocated in the last acquisition (the others were reused).
    int pageBuffersAllocated() const;

private:
    int prepareAcquisition(int flags, std::shared_ptr<Acquisition>& out);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kelvo
