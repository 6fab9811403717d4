// The device that leads to the exchange as the protocol sees it, and the
// clock by which the protocol waits. TCommPort is the real device and
// TSteadyClock the real clock; an in-memory device with a clock of its own
// lets the protocol run without hardware and without waiting. Failures are
// raised as ECommError (link/comm_error.h); only the exchange-link context
// operates a device.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class IByteLine {
  public:
    virtual ~IByteLine() = default;
    // Opens the device for name (looked up first as an entry of startDir);
    // nothing when open. Raises 8 when there is no such device or it cannot
    // be opened, and then stays closed. A line that is always there (the
    // default) neither opens nor closes, and is never lost.
    virtual void Open(const std::string& name, const std::string& startDir);
    // Closes the device; nothing when closed. Raises 11 (and stays open)
    // when it refuses.
    virtual void Close() {}
    virtual bool IsOpen() const { return true; }
    // True once a read or write found the device gone; only closing and
    // opening again can help then.
    virtual bool Lost() const { return false; }
    // One byte 0..255 that arrives within timeoutMs, or -1 when none did.
    // Raises ECommError 7 when closed, 10 on failure or a vanished device.
    virtual int ReadWithin(int timeoutMs) = 0;
    // Sends one byte. Raises ECommError 7 when closed, 9 when the byte
    // could not be handed to the device (failure, vanished device, or no
    // room within the write time-out).
    virtual void WriteByte(uint8_t b) = 0;
    // Drops every byte received and not yet read. Raises 7, 12.
    virtual void PurgeInput() = 0;
    // Returns when every byte written has left. Raises 7, 13.
    virtual void Flush() = 0;
};

class IClock {
  public:
    using TTimePoint = std::chrono::steady_clock::time_point;
    virtual ~IClock() = default;
    // Monotonic time.
    virtual TTimePoint Now() = 0;
    // Suspends the calling thread for ms (a pause between protocol steps).
    virtual void Sleep(std::chrono::milliseconds ms) = 0;
};

// One byte: a first read within firstTimeoutMs always runs; when it finds
// nothing, reads within firstTimeoutMs go on until ms have passed on clock
// since it ended. -1 when nothing came. Raises what the line raises.
int ReadByteWait(IByteLine& line, IClock& clock, int firstTimeoutMs, int ms);

// The monotonic clock of the machine and a real sleep.
class TSteadyClock : public IClock {
  public:
    TTimePoint Now() override;
    void Sleep(std::chrono::milliseconds ms) override;
    // The one instance the program uses.
    static TSteadyClock& Instance();
};
