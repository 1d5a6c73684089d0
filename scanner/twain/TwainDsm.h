// The scanner layer on Windows: TwainLayer over the TWAIN source manager (TWAINDSM.dll when
// installed, else twain_32.dll). A hidden window owns the session; each negotiation call goes
// to the source as the capability records of TwainWire.h; pages come by native transfer, the
// source's events through Qt's native event filter, and every page reaches the callback on
// the calling (GUI) thread before the next one is asked for.
//
// The source opened is the one chosen with selectSource() earlier in this process, else the
// one whose product name is in KELVO_TWAIN_SOURCE, else the source manager's default.
#pragma once

#include "scanner/Twain.h"

#include <memory>

namespace kelvo {

class TwainDsm final : public TwainLayer {
public:
    TwainDsm();
    ~TwainDsm() override;
    TwainDsm(const TwainDsm&) = delete;
    TwainDsm& operator=(const TwainDsm&) = delete;

    bool isAvailable() override;
    int openSession() override;
    // The source manager's own list of scanners; the chosen one is used for the rest of the
    // process. ACQUIRE_CANCELLED when the list is closed without a choice.
    int selectSource() override;
    int startCapabilityNegotiation() override;
    int setCapability(const TwainCapability& cap, int flags) override;
    int setBitsPerPixel(int bitsPerPixel) override;
    int setResolution(const TW_FIX32& x, const TW_FIX32& y) override;
    int setUnit(int unit) override;
    // Not sent when the source refused the unit: a frame in pixels read as inches or
    // millimetres would be a different page.
    int setImageFrame(const TW_FRAME& frame) override;
    int enableDuplex(int enable) override;
    int endCapabilityNegotiation() override;
    int acquire(const PageCallback& onPage, int flags, const ProgressCallback& onProgress) override;
    void requestCancel() override;
    int endSession() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace kelvo
