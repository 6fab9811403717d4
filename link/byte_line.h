// The line to the exchange as the protocol sees it, and the clock by which
// the protocol waits. TCommPort is the real line and TSteadyClock the real
// clock; an in-memory line with a clock of its own lets the protocol run
// without a device and without waiting.
#pragma once

#include <chrono>
#include <cstdint>

class IByteLine {
  public:
    virtual ~IByteLine() = default;
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
