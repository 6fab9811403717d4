// The line to a simulated exchange served in memory (StartInMemory), on a
// test clock: the exchange's pacing, status delay and faults play out in
// the clock's time, which moves only as far as the program waits.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "link/byte_line.h"
#include "tests/common/test_clock.h"
#include "tools/sim_exchange/sim_exchange.h"

namespace testing_support {

class TSimLine : public IByteLine {
  public:
    TSimLine(sim::TSimExchange& exchange, TTestClock& clock);

    // The next byte from the exchange when it becomes available within the
    // time-out: the clock moves on to that instant. Otherwise the clock
    // moves on by the whole time-out and -1 is returned. Raises
    // ECommError 10 once the exchange has gone (also during the wait).
    int ReadWithin(int timeoutMs) override;
    // Hands b to the exchange at the clock's time. Raises ECommError 9
    // once the exchange has gone.
    void WriteByte(uint8_t b) override;
    // Drops every byte available by the clock's time.
    void PurgeInput() override;
    // Bytes leave at once.
    void Flush() override {}
    // Like a real port, a line that found its device gone stays dead, even
    // when the device is back, until it is opened again.
    void Reopen();
    bool Lost() const override { return lost_; }

  protected:
    // Tells the exchange the clock's time; returns it.
    IClock::TTimePoint Sync();

  private:
    sim::TSimExchange& exchange_;
    TTestClock& clock_;
    bool lost_ = false;
};

// The line as a device the program's link owns: closed until opened by its
// name, which fails (ECommError 8, ENOENT) under another name, while the
// exchange is away (vanished) or switched off (not serving); lost once the
// exchange went, until opened again. Closed, it raises ECommError 7.
class TSimDevice : public TSimLine {
  public:
    TSimDevice(sim::TSimExchange& exchange, TTestClock& clock, std::string name = "COM1");

    void Open(const std::string& name, const std::string& startDir) override;
    void Close() override { open_ = false; }
    bool IsOpen() const override { return open_; }
    int ReadWithin(int timeoutMs) override;
    void WriteByte(uint8_t b) override;
    void PurgeInput() override;
    void Flush() override;

    // The name the device is found by from now on (empty: none).
    void SetName(std::string name);

  private:
    void MustBeOpen() const;

    sim::TSimExchange& exchange_;
    mutable std::mutex mutex_;
    std::string name_;
    bool open_ = false;
};

// A simulated exchange with config, served in memory from a test clock's
// start, paced: the line's pace moves the clock on as real time would.
std::unique_ptr<sim::TSimExchange> StartInMemory(sim::TExchangeConfig config = {});

}  // namespace testing_support
