// Reading of the billing buffer.
#include <cstring>

#include "low_level.h"

using namespace protocol;

void TLowLevel::HandleRecord(int unit, const uint8_t* reply, int len,
                             const TRecordCallback& callback) {
    lastHandled_[unit].assign(reply, reply + len);
    if (reply[0] == 0x0F && reply[1] == 0xFF) {
        ++Reading.RejectedRecords;
        return;
    }
    TRecord record = DecodeRecord(exchange_, reply, len);
    if (callback) callback(std::move(record));
}

TReadResult TLowLevel::ReadUnit(int u, bool select, const TRecordCallback& callback) {
    line_->PurgeInput();
    if (select && SelectUnit(u, TSelectCaller::BufferReading) != TSelectResult::Selected)
        return TReadResult::UnitRefused;

    // First record: the exchange hands out its oldest record and keeps it.
    uint8_t reply[kRecordBufferSize];
    int len = 0;
    TTransactResult r = TTransactResult::Failed;
    for (int attempt = 0; attempt < kFirstRecordAttempts; ++attempt) {
        std::memset(reply, 0, sizeof reply);
        len = 0;
        r = Transact(reply, len, TCommand::FirstRecord, true);
        if (r == TTransactResult::Replied && len >= 1) break;
        if (len < 1) Pause(kRecordRetryPauseMs);
    }
    if (r != TTransactResult::Replied) return TReadResult::Failed;
    if (len <= 1) return TReadResult::Drained;  // this unit's buffer is empty
    // The record handled last, still held because the request that would
    // have dropped it never went out, is not handed on again.
    const auto last = lastHandled_.find(u);
    const bool seen =
        last != lastHandled_.end() && last->second == std::vector<uint8_t>(reply, reply + len);
    if (!seen) HandleRecord(u, reply, len, callback);

    // Next records: each request lets the exchange drop the record it
    // delivered last, which by now has been handled.
    for (;;) {
        line_->Flush();
        if (CheckLinkRetry() != TLinkCheck::Passed) return TReadResult::Failed;
        if (Reading.StopFlag || Reading.HoldFlag) return TReadResult::Stopped;
        r = TTransactResult::Failed;
        for (int attempt = 0; attempt < kNextRecordAttempts; ++attempt) {
            std::memset(reply, 0, sizeof reply);
            len = 0;
            r = Transact(reply, len, TCommand::NextRecord, false);
            if (r == TTransactResult::Replied && len >= 1) break;
            // A reply that began and broke off: the exchange has already
            // dropped the record before it, and asking again with the
            // next-record command would drop this one unseen. End here; the
            // next reading starts with the first-record command and gets it
            // again.
            if (len >= 1) return TReadResult::Failed;
            Pause(kRecordRetryPauseMs);
        }
        if (r != TTransactResult::Replied) return TReadResult::Failed;
        if (len <= 1) return TReadResult::Drained;  // end of this unit's buffer
        HandleRecord(u, reply, len, callback);
    }
}

TReadResult TLowLevel::ReadBuffer(const TRecordCallback& callback) {
    try {
        line_->PurgeInput();
    } catch (const ECommError&) {
        return TReadResult::Failed;
    }
    if (CheckLinkRetry() != TLinkCheck::Passed) return TReadResult::NoLink;

    // Every unit of a multi-unit exchange is read in turn; those, and the
    // QS800, need their unit selected first.
    const int units = exchange_.UnitCount > 1 ? exchange_.UnitCount : 1;
    const bool select = SelectsUnitForReading(exchange_);
    for (int u = 0; u < units; ++u) {
        if (u > 0 && (Reading.StopFlag || Reading.HoldFlag)) return TReadResult::Stopped;
        const TReadResult r = ReadUnit(u, select, callback);
        if (r != TReadResult::Drained) return r;
    }
    return TReadResult::Drained;
}
