// The scanner layer over SANE: TwainLayer's session, negotiation and acquisition on top of
// libsane. Negotiation only records what the session asks for; acquire() maps it onto the
// device's options, reads the pages on a worker thread and hands them to the caller on its
// own thread, one at a time, while a local event loop keeps the windows painting.
#pragma once

#include "imaging/SaneMapping.h"
#include "imaging/SanePageImage.h"
#include "imaging/Twain.h"

#include <QByteArray>

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

} // namespace kelvo
