// The exchange-link context: owns the serial port, speaks the exchange's
// byte protocol, identifies the exchange and reads its billing buffer. Its
// data come in three parts with one owner each: the settings (read and
// written by the settings code), the identification (made by
// IdentifyExchange), and the reading state (shared with the reading thread).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "config/settings.h"
#include "link/byte_line.h"
#include "link/exchange_model.h"
#include "link/line_state.h"
#include "link/protocol.h"
#include "link/record.h"

// Results of the link's operations: every operation of link/ that can fail
// returns an enum of its own, and the system's error of a failure stays
// beside it, to be asked for afterwards, as libserialport's sp_return goes
// with sp_last_error_code(): LastOpenError() here for the port,
// LastPortLinkError() (link/serial_devices.h) for a "COMn" link. Only the
// devices raise (ECommError, link/comm_error.h), and the context turns that
// into these results. The values are those the program has always used; a
// result is switched over, never compared with a number.
enum class [[nodiscard]] TOpenResult : int{
    Opened = 1,
    PortError = -1,   // the port could not be opened (see LastOpenError)
    AlreadyOpen = -2  // nothing was done
};
enum class [[nodiscard]] TCloseResult : int{
    Closed = 1,      // closed now, or it was not open
    PortError = -1,  // the device refused to close and stays open
};
enum class [[nodiscard]] TLinkCheck : int{Passed = 1, Failed = -1};
enum class [[nodiscard]] TTransactResult : int{
    Replied = 1,  // a reply was read (its length may be -1: none came)
    Failed = -1,  // port error, a reply cut short, or a checksum still wrong
    NoLink = -2   // the link test failed before the request
};
// The line-state query: Queried whether or not a reply came (the table is
// replaced only when one did); NoLink when the link test failed.
enum class [[nodiscard]] TLineStateResult : int{Queried = 1, NoLink = -1};
enum class [[nodiscard]] TSelectResult : int{
    Selected = 1, Refused = -1,
    PortError = -2  // the port failed (the device may have gone)
};
enum class [[nodiscard]] TIdentifyResult : int{
    Identified = 1,
    NoEcho = -1,        // the first link test failed
    NoReply = -2,       // no identification reply, or a later link test failed
    UnknownType = -3,   // a type code outside the model table
    UnitRefused = -4,   // the exchange refused to select a unit
    StatusFailed = -5,  // a unit's buffer status failed every attempt
    PortError = -6      // the port failed (the device may have gone)
};
enum class [[nodiscard]] TReadResult : int{
    NoLink = 1,        // the first link test failed; nothing was asked
    Stopped = 3,       // the stop or hold flag was seen
    Drained = -1,      // every unit's buffer was read to its end
    Failed = -2,       // a request failed; the next reading starts afresh
    UnitRefused = -3,  // the exchange refused to select a unit
    PortError = -4,    // the port failed (the device may have gone)
};

// Why the port could not be opened: the failing step and errno.
struct TPortError {
    uint8_t Code = 0;
    uint32_t SystemError = 0;
};

// What the reading thread and the windows share while a reading runs.
// Counters the reading changes and a window shows are atomic.
struct TReadingState {
    using TRecordCallback = std::function<void(TRecord)>;
    // Set by the reading thread for its reading; called on that thread.
    TRecordCallback RecordCallback;
    std::atomic<int> RejectedRecords{0};
    // Records the buffer holds by the last identification, less those
    // written since.
    std::atomic<int> RecordsInBuffer{0};
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> UnInterruptFlag{false};
    // Set by the record callback when it could not keep a record: the
    // reading ends before the next record is requested, as for a stop.
    std::atomic<bool> HoldFlag{false};
};

// Keeps what the reading hands on: across runs of the program the record
// of each unit handed on last and not yet acknowledged by the exchange, and
// on the disk whatever was handed on before the exchange may drop it.
class IUnacknowledgedStore {
  public:
    virtual ~IUnacknowledgedStore() = default;
    // unit's record is about to be handed on (its line not yet written).
    virtual void Handing(int unit, const std::vector<uint8_t>& payload) = 0;
    // Called before a next-record request, which lets the exchange drop the
    // record handed on last: returns once everything handed on is on the
    // disk, false when it could not be put there (the reading then holds,
    // and the record stays in the exchange).
    virtual bool Settle() = 0;
    // The exchange acknowledged unit's record (or holds none).
    virtual void Forget(int unit) = 0;
};

class TLowLevel {
  public:
    enum class TSelectCaller { Identification, BufferReading };
    using TRecordCallback = TReadingState::TRecordCallback;

    // Speaks over its own serial port with real time. Settings.StartDir is
    // the current directory.
    TLowLevel();
    // Speaks over device (closed or open) with clock, both its own from now.
    TLowLevel(std::shared_ptr<IByteLine> device, std::shared_ptr<IClock> clock);
    // Speaks over line with clock (both outlive the context) instead of its
    // port: the protocol in memory.
    TLowLevel(IByteLine& line, IClock& clock);
    ~TLowLevel();
    TLowLevel(const TLowLevel&) = delete;
    TLowLevel& operator=(const TLowLevel&) = delete;

    TSettings Settings;
    TReadingState Reading;
    // The last identification (as far as it got when it failed): a copy,
    // as the reading thread may identify the exchange anew meanwhile.
    TIdentification Identification() const {
        std::lock_guard<std::mutex> lock(identMutex_);
        return exchange_;
    }
    // Takes an identification made before, as if IdentifyExchange had made
    // it (a context that speaks to an exchange known already).
    void AdoptIdentification(const TIdentification& exchange) {
        std::lock_guard<std::recursive_mutex> port(portMutex_);
        std::lock_guard<std::mutex> lock(identMutex_);
        exchange_ = exchange;
    }

    // --- the port ---------------------------------------------------------
    // The context is the device's one owner: every operation on it below,
    // from whichever thread, runs alone. None of them raises.
    //
    // Opens the port under name (resolved in Settings.StartDir) and empties
    // its input. The error of a failed opening stays in LastOpenError.
    TOpenResult OpenPort(const std::string& name);
    const TPortError& LastOpenError() const { return lastOpenError_; }
    TCloseResult ClosePort();
    // Never waits for an operation in progress (a window may ask).
    bool PortOpen() const { return portOpen_; }
    // Whether a read or write found the device gone (see ReopenLostPort).
    bool PortLost() const;
    // The clock the protocol waits by; pauses between its attempts (those of
    // the reading thread too) take their time from it.
    IClock& Clock() const { return *clock_; }

    // --- protocol ---------------------------------------------------------
    // Passed when five echo passes each return 00. Never raises.
    TLinkCheck CheckLink();
    // Up to four CheckLink attempts 300 ms apart. Never raises.
    TLinkCheck CheckLinkRetry();
    // One request and its reply. reply receives the descrambled payload
    // (room for 255 bytes), replyLen its length (-1 when no length byte
    // came). With no block the command goes alone; with a block, param,
    // the block length and the scrambled block with its sum follow it.
    // Never raises.
    TTransactResult Transact(uint8_t* reply, int& replyLen, TCommand command, bool verify,
                             const uint8_t* block = nullptr, int blockCount = 0, uint8_t param = 0);
    // Selects unit u of a multi-unit exchange. The caller tells the
    // operator about a refusal.
    TSelectResult SelectUnit(int u, TSelectCaller caller);

    // --- identification -------------------------------------------------
    // Identifies the exchange into Identification() and sets
    // Reading.RecordsInBuffer.
    TIdentifyResult IdentifyExchange();

    // --- billing buffer --------------------------------------------------
    // Reads every record of every unit, calling callback once per record
    // that is not rejected (Reading.RejectedRecords counts those).
    TReadResult ReadBuffer(const TRecordCallback& callback);

    // The records handed on last and not yet acknowledged, per unit, as an
    // earlier run left them: each is not handed on again when offered first.
    void RestoreUnacknowledged(const std::map<int, std::vector<uint8_t>>& records);
    // Where every change of those records is kept (not owned; nullptr: not
    // kept).
    void SetUnacknowledgedStore(IUnacknowledgedStore* store) { store_ = store; }

    // A port whose device went away (an adapter pulled and plugged in
    // again, under the same name) is closed, opened again by
    // Settings.PortName and the exchange identified again, as it may hand
    // out another key. True when the port had been lost and works again;
    // false when it was not lost or is still gone. Never raises.
    bool ReopenLostPort();

    // --- line state -------------------------------------------------------
    // Asks the exchange which lines are connected now. The connection table
    // is replaced when a reply of length 0 or more arrived; a request that
    // got no reply (or a broken one) leaves it as it was. NoLink, table
    // unchanged, when the link test fails or the port fails. While *cancel
    // is set the link tests fail at once: the query then ends within one
    // echo's wait. Never raises.
    TLineStateResult QueryLineState(const std::atomic<bool>* cancel = nullptr);
    // Whether the last query got a reply that replaced the table: false
    // after one that failed in any way.
    bool LineStateAnswered() const { return lineStateAnswered_; }
    // Valid entries of the connection table (the last reply's groups).
    int ConnectionCount() const { return static_cast<int>(connections_.size()); }
    // The connections of the last reply, and their texts (UTF-8).
    const std::vector<TConnection>& Connections() const { return connections_; }
    std::vector<std::string> ConnectionTable() const;

  private:
    // The operations above without the lock, raising port errors.
    TSelectResult Select(int u, TSelectCaller caller);
    TIdentifyResult Identify();
    // Identify's work on x, a copy published when it ends.
    TIdentifyResult IdentifyInto(TIdentification& x);
    TReadResult ReadAll(const TRecordCallback& callback);
    void Pause(int ms);
    bool Cancelled() const { return cancel_ && cancel_->load(); }
    // One byte, waiting ms more after the first read found nothing.
    int ReadByteWait(int ms);
    // Reads one reply payload of len bytes into reply (capacity bytes kept)
    // and its checksum byte (-1 when none came); sum is the 8-bit sum of the
    // bytes as received. False when the payload was cut short (the rest of
    // reply reads FF).
    bool ReadPayload(uint8_t* reply, int capacity, int len, uint8_t& sum, int& checksum);
    int ReadStatus(uint8_t* reply);
    // One pass over unit's buffer. interrupted tells that it ended on a
    // next-record reply that was lost or garbled.
    TReadResult ReadUnit(int unit, bool select, const TRecordCallback& callback, bool& interrupted);
    void HandleRecord(int unit, const uint8_t* reply, int len, const TRecordCallback& callback);
    // The exchange acknowledged unit's record, or holds none.
    void Forget(int unit);

    // Held by every operation on the device (one may call another).
    mutable std::recursive_mutex portMutex_;
    std::shared_ptr<IByteLine> line_;
    std::shared_ptr<IClock> clock_;
    // Whether the device is open, as its last opening or closing left it.
    std::atomic<bool> portOpen_;
    // Written under portMutex_ and identMutex_ both, so that the port's
    // operations read it under the one and anybody else under the other.
    TIdentification exchange_;
    mutable std::mutex identMutex_;
    TPortError lastOpenError_;
    // Per unit, the last record handed on and not yet acknowledged. The
    // exchange drops a record only when the next-record request arrives; a
    // reading that ended before that request (stop, dead line, vanished
    // device, the program ended) finds the same record first the next time,
    // and it must not be counted twice.
    std::map<int, std::vector<uint8_t>> lastHandled_;
    IUnacknowledgedStore* store_ = nullptr;
    std::vector<TConnection> connections_;
    bool lineStateAnswered_ = false;
    // Set during a line-state query that may be called off.
    const std::atomic<bool>* cancel_ = nullptr;
};
