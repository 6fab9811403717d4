// Reading of the billing buffer.
//
// The exchange keeps its oldest record until the next-record request (03)
// that follows its delivery: only then is it dropped. Two rules follow.
// A next-record request that may have reached the exchange is never sent
// again blindly: had its reply been lost, the record it delivered would be
// dropped unseen. Such a pass ends, and the next begins with the first-record
// request (02), which returns whatever the exchange now holds. And the record
// handed on last is remembered until the exchange shows it acted on the 03
// that followed it, so that the same record offered again by 02 is not handed
// on twice, while a later call identical to it is.
#include <cstring>

#include "link/comm_error.h"
#include "link/low_level.h"

using namespace protocol;

namespace {

bool IsRejected(const uint8_t* reply, int len) {
    return len >= 2 && reply[0] == 0x0F && reply[1] == 0xFF;
}

}  // namespace

void TLowLevel::RestoreUnacknowledged(const std::map<int, std::vector<uint8_t>>& records) {
    lastHandled_ = records;
}

void TLowLevel::Forget(int unit) {
    if (lastHandled_.erase(unit) > 0 && store_) store_->Forget(unit);
}

void TLowLevel::HandleRecord(int unit, const uint8_t* reply, int len,
                             const TRecordCallback& callback) {
    std::vector<uint8_t>& last = lastHandled_[unit];
    last.assign(reply, reply + len);
    if (IsRejected(reply, len)) {
        // Counted only: offered again after a restart it is counted again,
        // and nothing is written twice.
        ++Reading.RejectedRecords;
        return;
    }
    // Told first, so that the record and the place of its line are known
    // before the line is written.
    if (store_) store_->Handing(unit, last);
    if (callback) callback(DecodeRecord(exchange_, reply, len));
}

TReadResult TLowLevel::ReadUnit(int u, bool select, const TRecordCallback& callback,
                                bool& interrupted) {
    interrupted = false;
    line_->PurgeInput();
    if (select && Select(u, TSelectCaller::BufferReading) != TSelectResult::Selected)
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
    if (r != TTransactResult::Replied)
        return Reading.StopFlag ? TReadResult::Stopped : TReadResult::Failed;
    if (len <= 1) {
        // Empty: nothing is held that could be offered again.
        Forget(u);
        return TReadResult::Drained;
    }
    const auto last = lastHandled_.find(u);
    const bool seen =
        last != lastHandled_.end() && last->second == std::vector<uint8_t>(reply, reply + len);
    if (!seen) HandleRecord(u, reply, len, callback);

    // Next records: each request lets the exchange drop the record it
    // delivered last, which by now has been handled.
    for (;;) {
        line_->Flush();
        if (CheckLinkRetry() != TLinkCheck::Passed)
            return Reading.StopFlag ? TReadResult::Stopped : TReadResult::Failed;
        if (Reading.StopFlag || Reading.HoldFlag) return TReadResult::Stopped;
        // The request lets the exchange drop the record handed on last, so
        // its line must be on the disk first; putting it there ran while the
        // link was tested.
        if (store_ && !store_->Settle()) {
            Reading.HoldFlag = true;
            return TReadResult::Stopped;
        }
        std::memset(reply, 0, sizeof reply);
        len = -1;
        r = Transact(reply, len, TCommand::NextRecord, true);
        // Any byte of a reply shows that the exchange acted on the request
        // and dropped the record remembered.
        if (len >= 0) Forget(u);
        if (r != TTransactResult::Replied || len < 1) {
            interrupted = true;
            return TReadResult::Failed;
        }
        if (len == 1) return TReadResult::Drained;  // end of this unit's buffer
        HandleRecord(u, reply, len, callback);
    }
}

TReadResult TLowLevel::ReadBuffer(const TRecordCallback& callback) {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    try {
        return ReadAll(callback);
    } catch (const ECommError&) {
        return TReadResult::PortError;
    }
}

TReadResult TLowLevel::ReadAll(const TRecordCallback& callback) {
    // A stop makes the link tests fail at once: on a line gone silent their
    // retries would hold a stopped reading for half a minute. A reply that
    // is being read is read to its end all the same.
    struct TCancelScope {
        const std::atomic<bool>*& slot;
        ~TCancelScope() { slot = nullptr; }
    } scope{cancel_};
    cancel_ = &Reading.StopFlag;
    try {
        line_->PurgeInput();
    } catch (const ECommError&) {
        return TReadResult::Failed;
    }
    if (CheckLinkRetry() != TLinkCheck::Passed)
        return Reading.StopFlag ? TReadResult::Stopped : TReadResult::NoLink;

    // Every unit of a multi-unit exchange is read in turn; those, and the
    // QS800, need their unit selected first.
    const int units = exchange_.UnitCount > 1 ? exchange_.UnitCount : 1;
    const bool select = SelectsUnitForReading(exchange_);
    for (int u = 0; u < units; ++u) {
        if (u > 0 && (Reading.StopFlag || Reading.HoldFlag)) return TReadResult::Stopped;
        TReadResult r = TReadResult::Failed;
        bool interrupted = true;
        // A pass cut short by a next-record reply that was lost or garbled
        // starts again from the first record, a bounded number of times.
        for (int pass = 0; interrupted && pass < kUnitPasses; ++pass) {
            if (pass > 0) Pause(kRecordRetryPauseMs);
            r = ReadUnit(u, select, callback, interrupted);
        }
        if (r != TReadResult::Drained) return r;
    }
    return TReadResult::Drained;
}
