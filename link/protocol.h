// The exchange's command bytes, and every wait and retry count of the
// protocol in one place.
#pragma once

#include <cstdint>

// The first byte of every request.
enum class TCommand : uint8_t {
    Echo = 0x00,         // link test: answered by 00
    Identify = 0x01,     // model, name, version, serial number, clock
    FirstRecord = 0x02,  // the oldest call record, kept by the exchange
    NextRecord = 0x03,   // drops the record delivered last, sends the next
    Status = 0x40,       // followed by kStatusRequest: the buffer counters
    SelectUnit = 0x84,   // makes one unit of the exchange the active one
    LineState = 0xF0,    // the connections of the moment
};

// Second byte of a buffer-status request.
constexpr uint8_t kStatusRequest = 0x03;
// Parameter byte and one-byte block of the line-state request.
constexpr uint8_t kLineStateParam = 0x01;
constexpr uint8_t kLineStateBlock = 0xFF;
// Reply of the select-unit command that means "selected".
constexpr uint8_t kUnitSelected = 0x00;

namespace protocol {

// Reply buffers: identification and status replies, record replies.
constexpr int kIdentBufferSize = 254;
constexpr int kRecordBufferSize = 255;

// One read of one byte: the port's constant plus its per-byte multiplier.
constexpr int kByteTimeoutMs = 251;
// How long a reply's next byte is waited for after the first read of it.
constexpr int kReplyWaitMs = 500;

// Link test: this many echo bytes, each answered within kEchoWaitMs.
constexpr int kEchoPasses = 5;
constexpr int kEchoWaitMs = 200;
// Link test with retries: attempts, and the pause between them.
constexpr int kLinkTestAttempts = 4;
constexpr int kLinkTestPauseMs = 300;
// Before a request: rounds of link tests with retries, and their pause.
constexpr int kTransactLinkRounds = 3;
constexpr int kTransactRoundPauseMs = 300;
// Re-reads of a reply whose checksum does not match before giving up.
constexpr int kMaxChecksumRereads = 3;

// Pause after a select-unit command before its reply is read.
constexpr int kSelectPauseIdentifyMs = 300;
constexpr int kSelectPauseReadingMs = 200;
// Buffer-status requests per unit before identification gives up.
constexpr int kStatusAttempts = 4;

// Record requests: attempts of the first-record and next-record commands,
// and the pause after a request that brought no reply.
constexpr int kFirstRecordAttempts = 3;
constexpr int kNextRecordAttempts = 5;
constexpr int kRecordRetryPauseMs = 100;
// Passes over one unit's buffer in one reading, when a next-record reply is
// lost or garbled and the pass starts again from the first record.
constexpr int kUnitPasses = 3;

}  // namespace protocol
