// Reading of the billing buffer and decoding of call records.
#include <cstring>

#include "low_level.h"

namespace {

uint16_t Word(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

}  // namespace

std::string TLowLevel::TrunkText(uint8_t b) const {
    const std::string& m = ModelName;
    if (m.compare(0, 3, "QTV") == 0) return std::to_string(TrunkNumber(TTrunkFamily::QTV, b - 1));
    if (m.compare(0, 4, "QS16") == 0 || m.compare(0, 4, "QS20") == 0)
        return std::to_string(TrunkNumber(TTrunkFamily::QS16, b - 1));
    if (m.compare(0, 5, "QS800") == 0 || m == "B" || MultiUnit) {
        std::string n = std::to_string(TrunkNumber(TTrunkFamily::QS800, b));
        if (n.size() == 1) n = "0" + n;
        return "(" + std::to_string(b / 64 + 2) + ")" + n;
    }
    if (m == "QS53" || m == "QS31") return std::to_string(TrunkNumber(TTrunkFamily::Pollo, b));
    return std::string();
}

TRecord TLowLevel::DecodeRecord(const uint8_t* payload, int len) const {
    // Bytes a short record does not carry read as zero.
    uint8_t b[kRecordBufferSize];
    std::memset(b, 0, sizeof b);
    const int n = len < kRecordBufferSize ? (len > 0 ? len : 0) : kRecordBufferSize;
    std::memcpy(b, payload, static_cast<size_t>(n));

    TRecord r;
    const TDateTimeParts start = SecondsToDateTime(static_cast<uint64_t>(Word(b)) * 86400 +
                                                   static_cast<uint64_t>(Word(b + 2)) * TickLength);
    r.Year = start.Year;
    r.Month = start.Month;
    r.Day = start.Day;
    r.StartHour = start.Hour;
    r.StartMin = start.Minute;
    r.StartSec = start.Second;
    const TDateTimeParts dur = SecondsToDateTime(static_cast<uint64_t>(Word(b + 4)) * TickLength);
    r.DurHour = dur.Hour;
    r.DurMin = dur.Minute;
    r.DurSec = dur.Second;
    r = ValidateRecord(std::move(r));

    r.HwLine = Word(b + 6);
    r.PrgNumber = (b[8] == 0 && b[9] == 0) ? std::string("-1") : "1" + DecodeDigits(b + 8, 2, true);
    r.Trunk = TrunkText(b[10]);
    if (n >= 12) r.DialNumber = DecodeDigits(b + 11, n - 11, false);
    return r;
}

void TLowLevel::HandleRecord(int unit, const uint8_t* reply, int len,
                             const TRecordCallback& callback) {
    lastHandled_[unit].assign(reply, reply + len);
    if (reply[0] == 0x0F && reply[1] == 0xFF) {
        ++RejectedRecords;
        return;
    }
    TRecord record = DecodeRecord(reply, len);
    if (callback) callback(std::move(record));
}

int TLowLevel::ReadBuffer(const TRecordCallback& callback) {
    try {
        port_->PurgeInput();
    } catch (const ECommError&) {
        return -1;
    }
    if (CheckLinkRetry() != 1) return 1;

    // Every unit of a multi-unit exchange is read in turn; those, and the
    // QS800, need their unit selected first.
    const int units = UnitCount > 1 ? UnitCount : 1;
    const bool select = MultiUnit || ModelName.find("800") != std::string::npos;
    uint8_t reply[kRecordBufferSize];
    for (int u = 0; u < units; ++u) {
        if (u > 0 && (StopFlag || HoldFlag)) return 3;
        port_->PurgeInput();
        if (select && SelectUnit(u, TSelectCaller::BufferReading) != 1) return -1;

        // First record: the exchange hands out its oldest record and keeps it.
        int len = 0;
        int r = -1;
        for (int attempt = 0; attempt < 3; ++attempt) {
            std::memset(reply, 0, sizeof reply);
            len = 0;
            r = Transact(reply, len, 0x02, true, 1);
            if (r == 1 && len >= 1) break;
            if (len < 1) Pause(100);
        }
        if (r != 1) return -1;
        if (len <= 1) continue;  // this unit's buffer is empty
        // The record handled last, still held because the request that
        // would have dropped it never went out, is not handed on again.
        const auto last = lastHandled_.find(u);
        const bool seen =
            last != lastHandled_.end() && last->second == std::vector<uint8_t>(reply, reply + len);
        if (!seen) HandleRecord(u, reply, len, callback);

        // Next records: each request lets the exchange drop the record it
        // delivered last, which by now has been handled.
        for (;;) {
            port_->Flush();
            if (CheckLinkRetry() != 1) return -1;
            if (StopFlag || HoldFlag) return 3;
            r = -1;
            for (int attempt = 0; attempt < 5; ++attempt) {
                std::memset(reply, 0, sizeof reply);
                len = 0;
                r = Transact(reply, len, 0x03, false, 1);
                if (r == 1 && len >= 1) break;
                // A reply that began and broke off: the exchange has already
                // dropped the record before it, and asking again with the
                // next-record command would drop this one unseen. End here;
                // the next reading starts with the first-record command and
                // gets it again.
                if (len >= 1) return -1;
                Pause(100);
            }
            if (r != 1) return -1;
            if (len <= 1) break;  // end of this unit's buffer
            HandleRecord(u, reply, len, callback);
        }
    }
    return -1;
}
