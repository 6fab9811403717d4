// libFuzzer harness: identification and then buffer reading, over a line
// whose every reply the input scripts, on a test clock so that no wait
// takes real time. Neither may crash, hang or read outside its buffers.
//
// Input: for each byte the program writes, one chunk of what the exchange
// sends in answer: a length byte (below 0x80: that many bytes follow;
// 0x80 to 0xFE: seven high bits of a two-byte length whose low byte
// follows; 0xFF: the device vanishes), then the bytes themselves.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <deque>

#include "link/comm_error.h"
#include "link/low_level.h"
#include "tests/common/test_clock.h"
#include "tests/fuzz/fuzz_require.h"

namespace {

using testing_support::TTestClock;

// The exchange's side of the line, read from the input. Bytes answering a
// write are on their way until the program next reads, so a purge between
// a request and its reading (as before the buffer status) keeps them, as
// the exchange's line time does on a real port.
//
// Every byte written takes at least one byte of input while any is left,
// and a line with no input left is silent, which every retry of the
// protocol gives up on within its fixed count: the work for one input is
// bounded by its length.
class TFuzzLine : public IByteLine {
  public:
    TFuzzLine(const uint8_t* data, size_t size, TTestClock& clock)
        : data_(data), size_(size), clock_(clock) {}

    // The next byte that has arrived; with none, the clock moves on by the
    // time-out and -1 is returned.
    int ReadWithin(int timeoutMs) override {
        if (vanished_) throw ECommError(kErrRead, EIO);
        readable_.insert(readable_.end(), onTheWay_.begin(), onTheWay_.end());
        onTheWay_.clear();
        if (readable_.empty()) {
            clock_.Advance(std::chrono::milliseconds(timeoutMs));
            return -1;
        }
        const uint8_t b = readable_.front();
        readable_.pop_front();
        return b;
    }

    // Takes the input's next chunk as the answer to the byte.
    void WriteByte(uint8_t) override {
        if (vanished_) throw ECommError(kErrWrite, EIO);
        if (at_ == size_) return;
        const uint8_t head = data_[at_++];
        if (head == 0xFF) {
            vanished_ = true;
            return;
        }
        size_t n = head;
        if (head & 0x80) {
            n = static_cast<size_t>(head & 0x7F) << 8;
            if (at_ < size_) n |= data_[at_++];
        }
        if (n > size_ - at_) n = size_ - at_;
        onTheWay_.insert(onTheWay_.end(), data_ + at_, data_ + at_ + n);
        at_ += n;
    }

    // Drops what has arrived; what is on its way stays.
    void PurgeInput() override {
        if (vanished_) throw ECommError(kErrPurge, EIO);
        readable_.clear();
    }

    void Flush() override {
        if (vanished_) throw ECommError(kErrFlush, EIO);
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
    TTestClock& clock_;
    std::deque<uint8_t> onTheWay_;
    std::deque<uint8_t> readable_;
    bool vanished_ = false;
};

}  // namespace

// Identifies the scripted exchange and reads its buffer, whatever the
// identification gave; a vanished device is a result of both, never an
// exception.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TTestClock clock;
    TFuzzLine line(data, size, clock);
    TLowLevel link(line, clock);
    (void)link.IdentifyExchange();
    const TIdentification& x = link.Identification();
    FuzzRequire(x.ExchangeName.size() <= 17, "exchange name of 17 bytes at most");
    FuzzRequire(x.UnitCount >= 0 && x.UnitCount <= 3, "at most three units");
    int records = 0;
    (void)link.ReadBuffer([&records](TRecord r) {
        ++records;
        FuzzRequire(r.Month >= 1 && r.Month <= 12, "a record's month within 1..12");
    });
    FuzzRequire(link.Reading.RejectedRecords + records <= static_cast<int>(size),
                "no more records than the input could carry");
    return 0;
}
