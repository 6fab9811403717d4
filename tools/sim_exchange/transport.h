// The simulated exchange's line: a pseudo-terminal with a symbolic link to
// it, or in memory bytes the caller carries both ways. It paces bytes like a
// 19200 baud 8N2 line, keeps what the program sent and counts what crossed,
// and can go away and come back. What the bytes mean is not its business.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "tools/sim_exchange/sim_exchange.h"

namespace sim {

class TTransport {
  public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    // Paces the line while config.Paced; lineReset is called whenever
    // everything in flight is forgotten.
    TTransport(const TExchangeConfig& config, std::function<void()> lineReset)
        : cfg_(config), lineReset_(std::move(lineReset)) {}

    // Records why something failed; always false.
    bool Fail(const std::string& e);
    const std::string& LastError() const { return lastError_; }
    void ClearError() { lastError_.clear(); }

    // Opens a terminal with the name linkPath (none when empty) and a way to
    // wake the serving thread. False (LastError set) with nothing left open.
    bool OpenDevice(const std::string& linkPath);
    // Serves in memory from start on, with a clean line.
    void OpenInMemory(TimePoint start);
    // Closes the terminal, removes the name (a decoy too) and forgets the
    // in-memory line.
    void Close();
    bool InMemory() const { return inMemory_; }
    std::string SlavePath() const { return slavePath_; }

    // --- the device -----------------------------------------------------------
    // Goes away now: the terminal is closed, the name removed; in memory it
    // neither hears nor sends until it comes back.
    void Vanish();
    // Back: a new terminal, or in memory a clean line. False (LastError
    // set) when no terminal could be opened.
    bool Revive();
    bool Vanished() const { return vanished_; }
    // Whether the device can hear and send: in memory unless vanished, on a
    // terminal while one is open.
    bool LineUp() const { return inMemory_ ? !vanished_ : master_ >= 0; }

    // --- the name -------------------------------------------------------------
    // Points the name as state says (at decoy when Elsewhere); a failure is
    // told on stderr.
    void PointLink(TLinkState state, const std::string& decoy);
    TLinkState LinkState() const { return linkState_; }

    // --- time -----------------------------------------------------------------
    // The time that counts as now: the latest time passed in when in memory.
    TimePoint Now() const { return inMemory_ ? memNow_ : Clock::now(); }
    // In memory: takes now as the latest time, never going back; returns it.
    TimePoint Advance(TimePoint now);
    // Wakes the serving thread to look at its times again.
    void Wake();

    // --- bytes to the program -------------------------------------------------
    // Queues a reply that may start at ready. Paced, each byte occupies the
    // line for one byte time and is handed over when it has fully arrived at
    // the far end.
    void Send(const std::vector<uint8_t>& bytes, TimePoint ready);
    // Writes every queued byte whose time has come, in order.
    void FlushOut(TimePoint now);
    // In memory: the next byte when its time has come by the latest time
    // passed in, else -1.
    int TakeOut();
    // In memory: when the next byte is due; time_point::max() when none is
    // queued or the device is away.
    TimePoint NextOut() const;
    // In memory: drops every byte due by the latest time passed in.
    void PurgeOut();

    // --- bytes from the program -----------------------------------------------
    // The program's byte b, handed over at `at`, is kept and counted. True
    // when it is to be acted on at once; paced, it is held until it has fully
    // arrived (see TakeArrived); not listening, it is dropped.
    bool Hear(uint8_t b, TimePoint at, bool listening);
    // Takes the oldest held byte that has arrived by now while the line is
    // up; false when there is none.
    bool TakeArrived(TimePoint now, uint8_t& b, TimePoint& at);
    // Whether a held byte arrives before the next byte queued for the
    // program is due (its reply might come sooner), and when.
    bool ArrivalBeforeOut() const;
    TimePoint NextArrival() const { return pendingRx_.front().first; }

    // --- serving thread -------------------------------------------------------
    // Lowers next to the next held byte's arrival and the next queued byte's
    // slot (unless the terminal cannot take it yet).
    void NextDue(TimePoint& next) const;
    // Waits with lock released until next, a wake-up or the terminal's
    // readiness, and reads what the program sent into buf: the number of
    // bytes read (0 when none) and when they were read.
    size_t Await(TimePoint next, std::unique_lock<std::mutex>& lock, uint8_t* buf, size_t size,
                 TimePoint& readAt);

    // --- what was seen --------------------------------------------------------
    const std::vector<uint8_t>& Received() const { return received_; }
    void ClearReceived() { received_.clear(); }
    uint64_t WireBytes() const { return wireBytes_; }
    void ResetWireBytes() { wireBytes_ = 0; }

  private:
    struct TOut {
        TimePoint At;  // not written before this instant
        uint8_t Byte;
    };

    bool OpenTerminal();
    bool PlaceLink(const std::string& target);
    void RemoveLink();
    void CloseTerminal();
    bool UpdateLink();
    void ResetLine();

    const TExchangeConfig& cfg_;
    std::function<void()> lineReset_;
    std::string lastError_;
    std::string linkPath_;
    std::string slavePath_;

    int master_ = -1;
    int slaveHold_ = -1;  // keeps the line up whatever the program opens/closes
    uint64_t generation_ = 0;
    int wakeFd_ = -1;
    bool inMemory_ = false;
    TimePoint memNow_{};  // in memory: the latest time passed in
    bool vanished_ = false;
    // The link name, apart from the device behind it.
    TLinkState linkState_ = TLinkState::Shown;
    std::string decoy_;

    // Incoming stream.
    std::deque<std::pair<TimePoint, uint8_t>> pendingRx_;  // paced: acted on at arrival
    TimePoint rxFree_{};                                   // paced: end of the last arrival

    // Outgoing stream.
    std::deque<TOut> out_;
    TimePoint txFree_{};  // paced: when the line is free to start the next byte
    bool writeBlocked_ = false;

    std::vector<uint8_t> received_;
    uint64_t wireBytes_ = 0;
};

}  // namespace sim
