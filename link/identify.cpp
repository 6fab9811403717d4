// Identification of the exchange: model, name, version, serial number,
// clock, and the state of every unit's billing buffer.
#include <cstring>

#include "base/little_endian.h"
#include "link/comm_error.h"
#include "link/low_level.h"

using namespace protocol;

int TLowLevel::ReadStatus(uint8_t* reply) {
    std::memset(reply, 0, kIdentBufferSize);
    line_->PurgeInput();
    line_->WriteByte(static_cast<uint8_t>(TCommand::Status));
    line_->WriteByte(kStatusRequest);
    line_->PurgeInput();
    const int len = ReadByteWait(kReplyWaitMs);
    // No length byte: this attempt has failed. (Reading 255 bytes that will
    // never come would hold the program for minutes.)
    if (len < 0) return -1;
    uint8_t sum = 0;
    int checksum = -1;
    if (!ReadPayload(reply, kIdentBufferSize, len, sum, checksum)) return -1;
    if ((checksum & 0xFF) != sum || checksum < 0) return -1;
    for (int i = 0; i < len && i < kIdentBufferSize; ++i)
        reply[i] ^= exchange_.Key;
    return len;
}

TIdentifyResult TLowLevel::IdentifyExchange() {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    try {
        return Identify();
    } catch (const ECommError&) {
        return TIdentifyResult::PortError;
    }
}

TIdentifyResult TLowLevel::Identify() {
    // Built apart and published whole: a window copying the identification
    // while the reading thread identifies the exchange again sees the old
    // one or the new one, never one half made.
    TIdentification x = exchange_;
    const TIdentifyResult r = IdentifyInto(x);
    std::lock_guard<std::mutex> lock(identMutex_);
    exchange_ = std::move(x);
    return r;
}

TIdentifyResult TLowLevel::IdentifyInto(TIdentification& x) {
    x.MultiUnit = false;
    x.UnitCount = 0;
    x.InconsistentBufferReports = 0;
    x.UnitBuffers.clear();
    if (CheckLinkRetry() != TLinkCheck::Passed) return TIdentifyResult::NoEcho;

    line_->PurgeInput();
    line_->WriteByte(static_cast<uint8_t>(TCommand::Identify));
    line_->Flush();
    const int len = ReadByteWait(kReplyWaitMs);
    if (len < 0 || len == 0xFF) return TIdentifyResult::NoReply;
    uint8_t b[kIdentBufferSize];
    std::memset(b, 0, sizeof b);
    for (int i = 0; i < len; ++i) {
        const int v = ReadByteWait(kReplyWaitMs);
        // A reply cut short is no reply: its key and model cannot be trusted.
        if (v < 0) return TIdentifyResult::NoReply;
        if (i < kIdentBufferSize) b[i] = static_cast<uint8_t>(v);
    }
    x.Key = b[11];
    {
        // The status requests below are scrambled with it.
        std::lock_guard<std::mutex> lock(identMutex_);
        exchange_.Key = x.Key;
    }
    for (int i = 0; i < len && i < kIdentBufferSize; ++i)
        if (i != 11) b[i] ^= x.Key;

    // The name ends at the first zero byte, 17 bytes at most.
    x.ExchangeName.clear();
    for (int i = 16; i < 16 + 17 && i < len && b[i] != 0; ++i)
        x.ExchangeName += static_cast<char>(b[i]);

    const uint8_t type = b[5];
    if (type == 2) {
        LookUpNamedModel(std::string(reinterpret_cast<const char*>(b + 16), 7), x);
    } else if (!LookUpModel(type, x.ModelName, x.UnitCount, x.SelectBeforeStatus)) {
        return TIdentifyResult::UnknownType;
    }

    x.SoftwareVersion =
        std::to_string(b[7]) + std::to_string(b[6] >> 4) + "," + std::to_string(b[6] & 0x0F);
    x.SerialNumber = std::to_string(ReadLe16(b + 14));
    x.TickLength = b[13] == 0 ? 6 : b[13];
    x.ExchangeClock = SecondsToDateTime(static_cast<uint64_t>(ReadLe16(b)) * 86400 +
                                        static_cast<uint64_t>(ReadLe16(b + 2)) * x.TickLength);

    x.BufferCapacity = 0;
    x.RecordsInBuffer = 0;
    Reading.RecordsInBuffer = 0;
    for (int u = 0;; ++u) {
        if (CheckLinkRetry() != TLinkCheck::Passed) return TIdentifyResult::NoReply;
        line_->PurgeInput();
        if (x.SelectBeforeStatus &&
            Select(u, TSelectCaller::Identification) != TSelectResult::Selected)
            return TIdentifyResult::UnitRefused;
        uint8_t status[kIdentBufferSize];
        int got = -1;
        for (int attempt = 0; attempt < kStatusAttempts && got < 0; ++attempt)
            got = ReadStatus(status);
        if (got < 0) return TIdentifyResult::StatusFailed;
        TUnitBuffer unit;
        unit.Capacity = ReadLe16(status);
        unit.Records =
            static_cast<int>(ReadLe16(status + 2)) - static_cast<int>(ReadLe16(status + 4));
        x.UnitBuffers.push_back(unit);
        x.BufferCapacity += unit.Capacity;
        x.RecordsInBuffer += unit.Records;
        Reading.RecordsInBuffer = x.RecordsInBuffer;
        if (x.RecordsInBuffer > x.BufferCapacity) ++x.InconsistentBufferReports;
        if (u + 1 >= x.UnitCount) break;
    }
    return TIdentifyResult::Identified;
}
