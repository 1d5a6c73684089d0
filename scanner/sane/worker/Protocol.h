// The messages between the program and its scanner worker (kelvobild-scanner), which runs the
// SANE backends in a process of its own: one message per packet of a SOCK_SEQPACKET socket
// pair. A message is its type followed by fields appended in order: 32-bit and 64-bit
// integers in host order (both ends are the same build), strings and byte blocks with their
// length first. Page rasters do not travel here: they are in shared memory (memfd) whose
// descriptor comes with the page message when the program has not seen that buffer yet.
// No Qt: the worker links libsane and the C++ library only.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kelvo::worker {

enum Type : uint32_t {
    // program -> worker
    kListDevices = 1,  // -> kDevices
    kOpen,             // name -> kOpened
    kClose,            // -> kClosed
    kDescriptors,      // -> kDescriptorList
    kControl,          // index, action, value bytes -> kControlled
    kAcquire,          // multiPage -> kPageStart, kProgress, kResolution, kPage … kFinished, kIdle
    kTaken,            // a page was handed over: the worker may read one more
    kRelease,          // buffer id: its page is gone, the buffer may be written again
    kStop,             // end the acquisition; a page already read is still sent

    // worker -> program
    kDevices = 100,    // count, then name, vendor, model, type each
    kOpened,           // status
    kClosed,
    kDescriptorList,   // count (option 0 included), then per option 1..count-1 a descriptor
    kControlled,       // status, info, value bytes
    kPageStart,        // page number
    kProgress,         // page, bytes read, bytes expected (-1 unknown)
    kResolution,       // resolution, x-resolution, y-resolution (0: none) after the first start
    kPage,             // buffer id, buffer size, new-descriptor flag, frame count, frames
    kFinished,         // status kind, SANE status, feeder empty, pages read, buffers made
    kIdle,             // the device was cancelled after an acquisition: ready for more
    kAlive,            // waiting for a device that is warming up
};

// How an acquisition ended, as the worker saw it; the program makes its code from this.
enum FinishKind : int32_t {
    kEndedWithStatus = 0,  // the SANE status (GOOD: the feeder or flatbed is done)
    kEndedBadData,         // parameters or data the program could not use
    kEndedNoMemory,        // a page larger than a buffer may be
    kEndedStopped,         // stopped by the program
};

// One frame inside a page buffer.
struct Frame {
    int32_t format = 0;
    int32_t depth = 8;
    int32_t pixelsPerLine = 0;
    int32_t bytesPerLine = 0;
    int32_t lines = 0;
    int64_t offset = 0;
    int64_t length = 0;
};

// The largest message; a descriptor list of a device with hundreds of options fits.
inline constexpr size_t kMaxMessage = 1 << 20;

class Writer {
public:
    explicit Writer(uint32_t type) { u32(type); }
    Writer& u32(uint32_t v) { return raw(&v, sizeof v); }
    Writer& i32(int32_t v) { return raw(&v, sizeof v); }
    Writer& i64(int64_t v) { return raw(&v, sizeof v); }
    Writer& f64(double v) { return raw(&v, sizeof v); }
    Writer& str(const char* s) { return bytes(s ? s : "", s ? std::strlen(s) : 0); }
    Writer& str(const std::string& s) { return bytes(s.data(), s.size()); }
    Writer& bytes(const void* p, size_t n)
    {
        u32(static_cast<uint32_t>(n));
        return raw(p, n);
    }
    const std::vector<char>& data() const { return data_; }

private:
    Writer& raw(const void* p, size_t n)
    {
        if (n == 0)
            return *this;
        const size_t at = data_.size();
        data_.resize(at + n);
        std::memcpy(data_.data() + at, p, n);
        return *this;
    }
    std::vector<char> data_;
};

// Reads fields in the order they were written; a message too short sets ok() false and
// gives zeros from then on.
class Reader {
public:
    Reader(const char* p, size_t n)
        : p_(p)
        , end_(p + n)
    {
        type_ = u32();
    }
    uint32_t type() const { return type_; }
    bool ok() const { return ok_; }
    uint32_t u32() { return pod<uint32_t>(); }
    int32_t i32() { return pod<int32_t>(); }
    int64_t i64() { return pod<int64_t>(); }
    double f64() { return pod<double>(); }
    std::string str()
    {
        const uint32_t n = u32();
        if (!ok_ || static_cast<size_t>(end_ - p_) < n) {
            ok_ = false;
            return {};
        }
        std::string s(p_, n);
        p_ += n;
        return s;
    }

private:
    template<class T>
    T pod()
    {
        T v{};
        if (static_cast<size_t>(end_ - p_) < sizeof v) {
            ok_ = false;
            return v;
        }
        std::memcpy(&v, p_, sizeof v);
        p_ += sizeof v;
        return v;
    }
    const char* p_;
    const char* end_;
    uint32_t type_ = 0;
    bool ok_ = true;
};

} // namespace kelvo::worker
