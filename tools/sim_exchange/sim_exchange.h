// A simulated VERANTA exchange on a pseudo-terminal. It serves the exchange's
// side of the serial protocol (echo, identify, buffer status, select unit,
// first/next call record, line state) for every model, can pace its bytes
// like a 19200 baud 8N2 line and can inject faults. Used by the tests, the
// benchmarks and the demo; the same class backs the program sim_exchange.
//
// Everything here is written from the wire format, never by calling the
// program's own decoder.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// Time one byte takes on a 19200 baud line with 8N2 framing (11 bits).
constexpr std::chrono::nanoseconds kByteTime{572917};

// One call as the exchange stores it, before packing.
struct TSimCall {
    uint16_t Days = 0;           // start date: days since 1 January 1980
    uint16_t Ticks = 0;          // start time of day in ticks
    uint16_t DurationTicks = 0;  // duration in ticks
    uint16_t HwLine = 0;         // hardware subscriber line
    std::string PrgDigits;       // programmed number without its leading "1"
                                 // (at most 4 digits; empty packs as 00 00)
    uint8_t TrunkCode = 0;       // byte 10
    std::string DialDigits;      // dialled digits from 0-9 * # P A T; empty
                                 // gives an 11-byte record
};

// Packs call into a record payload (descrambled), 11 bytes plus the packed
// dialled digits (a filler nibble, the digits, a filler to a whole byte).
// Throws std::invalid_argument for digits that cannot be packed.
std::vector<uint8_t> EncodeRecord(const TSimCall& call);
// The 2-byte payload of a rejected record (0F FF).
std::vector<uint8_t> RejectedRecord();

struct TUnit {
    uint16_t Capacity = 500;
    // Counters of the status reply. With AutoCounters they are derived from
    // the records held (first - second = count), otherwise sent as given.
    bool AutoCounters = true;
    uint16_t Counter1 = 0;
    uint16_t Counter2 = 0;
    bool RefuseSelect = false;
    std::deque<std::vector<uint8_t>> Records;  // payloads, oldest first
};

// How the line-state replies fail, if at all.
enum class TLineStateFault {
    None,
    NoReply,      // the request is heard but nothing is sent
    BadChecksum,  // the reply is sent whole with a wrong checksum
};

struct TExchangeConfig {
    uint8_t TypeCode = 4;          // 2..10 are known models
    std::string Name = "VERANTA";  // bytes from offset 16 on (any length;
                                   // the reply carries a zero byte after
                                   // it when it is shorter than 17)
    uint8_t Key = 0x5A;            // scrambling key, byte 11
    uint8_t TickByte = 1;          // byte 13 (0 means 6 s)
    uint16_t Serial = 4321;
    uint16_t Days = 9862;  // clock: 2007-01-01
    uint16_t Ticks = 0;
    // Whether the clock runs from Days and Ticks at the start with the time
    // served (real time, in memory the times passed in). Stopped, the
    // identification reply always gives the start time; calls begun with
    // BeginCall are stamped by the running clock either way.
    bool ClockRuns = false;
    uint8_t VersionNibbles = 0x15;  // byte 6
    uint8_t VersionMain = 3;        // byte 7
    std::vector<TUnit> Units = std::vector<TUnit>(1);
    bool Paced = false;  // 19200 baud 8N2 in both directions
    // Delay before answering a buffer-status request (the program purges its
    // input after sending it, so an instant answer would be lost).
    std::chrono::milliseconds StatusDelay{15};
    // Reply to the line-state command: payload (descrambled) to send. When
    // empty, the reply reports the calls in progress (see BeginCall): one
    // group per call and a 0 after the last; length 0 when there are none.
    std::vector<uint8_t> LineState;
    TLineStateFault LineStateFault = TLineStateFault::None;
};

// One-shot faults of the record replies (02 and 03), counted from arming.
enum class TReplyFault {
    None,
    SilenceAfterLength,  // the length byte, then nothing
    CutShort,            // the length byte and part of the payload only
    BadChecksum,         // a complete reply with a wrong checksum
    Vanish,              // the device goes away before the reply
    // The command is acted on as usual (an 03 drops the record delivered
    // before it, the record it finds counts as delivered) but nothing at
    // all is sent, not even the length byte.
    Lost,
    // Sent whole, but payload byte size/2 crosses the line XORed with
    // kFlipMask while the checksum is that of the unflipped bytes.
    FlippedByte,
    // The reply is sent as usual; at that moment the link name goes (see
    // HideLink and RelinkTo). Unlike the others it may share its reply with
    // another fault.
    HideLink,
};
// What FlippedByte XORs into the byte it flips.
constexpr uint8_t kFlipMask = 0x01;

// Where the link name leads (see HideLink).
enum class TLinkState {
    Shown,      // to the device (no link while the device itself is gone)
    Hidden,     // nowhere: the name does not exist
    Elsewhere,  // to a decoy path
};

// A generated office day (see GenerateOfficeDay).
struct TDayOptions {
    int Calls = 100;
    uint32_t Seed = 1;
    uint16_t Days = 9862;   // the day's date
    int TickLength = 1;     // seconds per tick, to spread times
    int RejectedEvery = 0;  // every n-th record is 0F FF (0: none)
    int ShortEvery = 0;     // every n-th record is 2..11 bytes (0: none)
    int TwinsEvery = 0;     // every n-th record is followed by an identical
                            // copy, not counted in Calls (0: none)
    uint8_t TypeCode = 4;   // trunk codes plausible for this model
    int Unit = 0;           // unit whose trunks are used (QS800, multi-unit)
};
std::vector<std::vector<uint8_t>> GenerateOfficeDay(const TDayOptions& options);

// A time as the exchange stamps it: days since 1 January 1980 and ticks of
// tickLength seconds since that midnight (at most 0xFFFF: the counter stops
// there).
struct TClockStamp {
    uint16_t Days = 0;
    uint16_t Ticks = 0;
};
TClockStamp ClockStampAt(uint64_t secondsSince1980, int tickLength);

// The line-state number byte of trunk code b of a record of the model of
// typeCode: the byte the program numbers as the same trunk as the record.
uint8_t LineStateTrunkByte(uint8_t typeCode, uint8_t b);

class TSimExchange {
  public:
    explicit TSimExchange(TExchangeConfig config = {});
    ~TSimExchange();
    TSimExchange(const TSimExchange&) = delete;
    TSimExchange& operator=(const TSimExchange&) = delete;

    // Opens a pseudo-terminal (slave in raw mode), puts a symbolic link to
    // the slave at linkPath (replacing an existing link) when it is not
    // empty, and starts serving on a thread of its own. False on failure.
    bool Start(const std::string& linkPath = "");
    // Why the last Start failed (empty after a successful one).
    std::string LastError() const;
    // Serves with no terminal and no thread: the caller carries the bytes
    // both ways and says what time it is (ReceiveFromProgram and the
    // ...ForProgram calls). Times never go back: an earlier time than one
    // already passed in counts as that one. start is the time it starts at,
    // from which arrivals scheduled before any byte moves count. False (see
    // LastError) when already serving or the configuration is unusable.
    bool StartInMemory(std::chrono::steady_clock::time_point start = {});
    // Stops serving, closes the terminal and removes the link.
    void Stop();
    // Whether it serves (started and not stopped).
    bool Serving() const;
    // Path of the slave device (e.g. /dev/pts/7; empty in memory).
    std::string SlavePath() const;

    // --- in memory ----------------------------------------------------------
    // The program's byte arrives at `at`. Paced, it is acted on one byte
    // time later, as on the terminal. A vanished device hears nothing.
    void ReceiveFromProgram(uint8_t b, std::chrono::steady_clock::time_point at);
    // The next byte for the program when its time has come by now, else -1
    // (also while vanished).
    int TakeForProgram(std::chrono::steady_clock::time_point now);
    // When the next byte for the program becomes available:
    // time_point::max() when none will without more bytes from the program
    // or while vanished. Everything due by now is acted on first; paced, the
    // program's bytes still on their way are acted on ahead of time as far as
    // needed to know (a reply depends only on when its request arrived, so
    // nothing the program can see changes, though a Vanish fault so reached
    // shows in Gone() at once, a HideLink one in LinkState()).
    std::chrono::steady_clock::time_point NextForProgram(
        std::chrono::steady_clock::time_point now) const;
    // Drops every byte available to the program by now (it purged its input).
    void PurgeForProgram(std::chrono::steady_clock::time_point now);
    // True while the device is away (Vanish, or a Vanish record fault not
    // yet come back).
    bool Gone() const;

    // --- records ------------------------------------------------------------
    void AddRecord(int unit, std::vector<uint8_t> payload);
    size_t RecordCount(int unit) const;
    std::vector<std::vector<uint8_t>> Records(int unit) const;
    // New records arriving while serving: each entry is appended to unit's
    // buffer when its time (from now; in memory from the latest time passed
    // in) has come.
    void ScheduleArrivals(
        int unit, std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> arrivals);

    // A call begins now (in memory: at the latest time passed in) on unit
    // and lasts duration. Meanwhile the line-state reply reports it as a
    // connection of line call.HwLine with the trunk of call.TrunkCode, or,
    // when partnerLine is not 0, with that line (an internal call); line h
    // travels as number byte h - 1. When it ends, its record enters unit's
    // buffer with the simulated clock's time at its start and its duration
    // in ticks (call's own times are ignored).
    void BeginCall(int unit, TSimCall call, std::chrono::milliseconds duration,
                   uint16_t partnerLine = 0);
    // Calls begun and not yet ended.
    size_t CallsInProgress() const;
    // Seconds since 1 January 1980 on the simulated clock now.
    uint64_t ClockSeconds() const;

    // --- faults -------------------------------------------------------------
    // Answers nothing at all (the commands are not acted on either).
    void SetSilent(bool silent);
    // Echo number n (1-based, counted from this call) answers reply instead
    // of 00; a reply of -1 answers nothing.
    void ScriptEchoes(std::map<int, int> replies);
    // The first n buffer-status replies carry a wrong checksum.
    void SetStatusChecksumErrors(int n);
    // The identification reply has no length byte (nothing is sent).
    void SetIdentifySilent(bool silent);
    // The nth record reply (02 or 03) from now suffers fault, once; None
    // disarms every fault armed. For Vanish the device comes back comeBack
    // after the request (zero: stays away until Reappear). For HideLink the
    // name goes, or points at decoy when one is given, and comes back
    // comeBack after the request (zero: at RestoreLink).
    void ArmRecordFault(TReplyFault fault, int nth = 1,
                        std::chrono::milliseconds comeBack = std::chrono::milliseconds(0),
                        const std::string& decoy = "");
    // Every first-record reply carries a wrong checksum while set.
    void SetFirstRecordBadChecksum(bool bad);
    // The device goes away now: the terminal is closed, the link removed;
    // in memory it neither hears nor sends until it comes back.
    void Vanish();
    // A new terminal appears and the link points at it again; in memory the
    // device serves again with a clean line.
    void Reappear();
    // Only the link name goes away: the terminal stays open and the device
    // keeps serving whoever holds it. The name comes back `back` from now
    // (in memory: from the latest time passed in; zero: at RestoreLink).
    // Without a link path (and in memory) only LinkState tells.
    void HideLink(std::chrono::milliseconds back = std::chrono::milliseconds(0));
    // Like HideLink, but the name points at decoy meanwhile (any path, so
    // whoever opens the name gets the wrong device or none). Throws
    // std::invalid_argument for an empty decoy.
    void RelinkTo(const std::string& decoy,
                  std::chrono::milliseconds back = std::chrono::milliseconds(0));
    // The name leads to the device again now.
    void RestoreLink();
    // Where the name leads now.
    TLinkState LinkState() const;

    // --- what was seen ------------------------------------------------------
    // Every byte the program sent, in order.
    std::vector<uint8_t> Received() const;
    void ClearReceived();
    // Bytes that crossed the line in both directions since start (or reset).
    // In memory a byte for the program counts when taken or purged.
    uint64_t WireBytes() const;
    void ResetWireBytes();
    // Number of select-unit commands and the last unit selected.
    int SelectCount() const;
    int ActiveUnit() const;

    TExchangeConfig& Config();  // change only while stopped

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim
