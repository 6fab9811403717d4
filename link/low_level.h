// The exchange-link context: owns the serial port, speaks the exchange's
// byte protocol, identifies the exchange, reads its billing buffer and holds
// the program's settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "comm_port.h"
#include "record.h"

class TLowLevel {
  public:
    // Sizes of the reply buffers.
    static constexpr int kIdentBufferSize = 254;
    static constexpr int kRecordBufferSize = 255;
    // Re-reads of a reply whose checksum does not match before giving up.
    static constexpr int kMaxChecksumRereads = 3;

    enum class TSelectCaller { Identification, BufferReading };
    using TRecordCallback = std::function<void(TRecord)>;

    // Sets the defaults; StartDir is the current directory.
    TLowLevel();
    ~TLowLevel();
    TLowLevel(const TLowLevel&) = delete;
    TLowLevel& operator=(const TLowLevel&) = delete;

    // --- protocol ---------------------------------------------------------
    // 1 opened, -2 already open (nothing done), -1 any port error; the
    // error's code and errno stay in LastOpenError.
    int OpenPort(const std::string& name);
    ECommError LastOpenError{0, 0};
    // 1 when five echo passes each return 00, else -1. Never raises.
    int CheckLink();
    // Up to four CheckLink attempts 300 ms apart: 1 or -1. Never raises.
    int CheckLinkRetry();
    // One request and its reply. reply receives the descrambled payload
    // (room for 255 bytes), replyLen its length (-1 when no length byte
    // came). mode 1 sends the command alone, mode 2 adds param, the block
    // length and the scrambled block with its sum. Returns 1 when a reply was
    // read, -2 when the link test failed, -1 on a port error or when the
    // checksum still differs after kMaxChecksumRereads re-reads.
    int Transact(uint8_t* reply, int& replyLen, uint8_t command, bool verify, int mode,
                 const uint8_t* block = nullptr, int blockCount = 0, uint8_t param = 0);
    // Selects unit u of a multi-unit exchange: 1 selected, -1 refused. A
    // refusal shows the caller's message; for Identification the program
    // then ends (through the exit hook). Port errors are raised.
    int SelectUnit(int u, TSelectCaller caller);

    // --- identification -------------------------------------------------
    // 1 identified, -1 no echo, -2 no reply or a later link test failed,
    // -3 unknown type code, -5 buffer status failed four times. Port errors
    // are raised.
    int IdentifyExchange();

    // --- billing buffer --------------------------------------------------
    // Reads every record of every unit, calling callback once per record:
    // -1 at the end of the buffer or on a failure, 3 when StopFlag or
    // HoldFlag was seen,
    // 1 when the first link test failed.
    int ReadBuffer(const TRecordCallback& callback);
    // Decodes one descrambled record payload of length len (at least 2;
    // bytes past len read as zero), by the identified model and tick length.
    TRecord DecodeRecord(const uint8_t* payload, int len) const;
    // Trunk text of code b for the identified model.
    std::string TrunkText(uint8_t b) const;

    boost::shared_ptr<TCommPort> Port() const { return port_; }

    // Plain sleep of the calling thread between protocol steps.
    static void Pause(int ms);

    // --- identification results -----------------------------------------
    bool MultiUnit = false;
    int UnitCount = 0;
    uint8_t Key = 0;
    std::string ExchangeName;  // Windows-1251 bytes, at most 17
    std::string ModelName;
    std::string SoftwareVersion;
    std::string SerialNumber;
    int TickLength = 6;
    TDateTimeParts ExchangeClock;
    int BufferCapacity = 100;
    int RecordsInBuffer = 0;
    // Whether the model needs a unit selected before its status request.
    bool SelectBeforeStatus = false;

    // --- call-log title of the current reading run -----------------------
    std::string TitleLine;   // UTF-8
    std::string ColumnLine;  // UTF-8

    // --- reading state ----------------------------------------------------
    TRecordCallback RecordCallback;
    int RejectedRecords = 0;
    std::atomic<bool> StopFlag{false};
    std::atomic<bool> UnInterruptFlag{false};
    // Set by the record callback when it could not keep a record: the
    // reading ends before the next record is requested, as for a stop.
    std::atomic<bool> HoldFlag{false};

    // --- settings ---------------------------------------------------------
    std::string PortName = "COM1";
    bool SaveTitle = true;
    bool AltFormat = false;
    int AutoStart = 1;
    std::string TarifFileName;
    std::string RealTimeFileName;
    std::string StartDir;
    bool FirstStart = false;

  private:
    // Reads one reply payload and its checksum; returns the checksum byte
    // read (-1 when none) and the 8-bit sum of the bytes as received.
    bool ReadPayload(uint8_t* reply, int capacity, int len, uint8_t& sum, int& checksum);
    int ReadStatus(uint8_t* reply);
    void HandleRecord(int unit, const uint8_t* reply, int len, const TRecordCallback& callback);

    boost::shared_ptr<TCommPort> port_;
    // Per unit, the last record handed on. The exchange drops a record only
    // when the next-record request arrives; a reading that ended before
    // that request (stop, dead line, vanished device) finds the same record
    // first the next time, and it must not be counted twice.
    std::map<int, std::vector<uint8_t>> lastHandled_;
};
