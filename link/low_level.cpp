#include "link/low_level.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "link/comm_error.h"
#include "link/comm_port.h"

using namespace protocol;

namespace {

std::string CurrentDir() {
    char buf[PATH_MAX];
    return getcwd(buf, sizeof buf) ? std::string(buf) : std::string(".");
}

// A device or clock that belongs to someone else.
template <class T>
std::shared_ptr<T> Borrowed(T& t) {
    return std::shared_ptr<T>(&t, [](T*) {});
}

}  // namespace

TLowLevel::TLowLevel()
    : TLowLevel(std::make_shared<TCommPort>(), Borrowed<IClock>(TSteadyClock::Instance())) {}

TLowLevel::TLowLevel(std::shared_ptr<IByteLine> device, std::shared_ptr<IClock> clock)
    : line_(std::move(device)), clock_(std::move(clock)), portOpen_(line_->IsOpen()) {
    Settings.StartDir = CurrentDir();
}

TLowLevel::TLowLevel(IByteLine& line, IClock& clock) : TLowLevel(Borrowed(line), Borrowed(clock)) {}

TLowLevel::~TLowLevel() {
    // The program is ending; a port that will not close is let go.
    static_cast<void>(ClosePort());
}

void TLowLevel::Pause(int ms) {
    clock_->Sleep(std::chrono::milliseconds(ms));
}

int TLowLevel::ReadByteWait(int ms) {
    return ::ReadByteWait(*line_, *clock_, kByteTimeoutMs, ms);
}

TOpenResult TLowLevel::OpenPort(const std::string& name) {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    if (line_->IsOpen()) return TOpenResult::AlreadyOpen;
    try {
        line_->Open(name, Settings.StartDir);
        portOpen_ = true;
        line_->PurgeInput();
        lastOpenError_ = TPortError{};
        return TOpenResult::Opened;
    } catch (const ECommError& e) {
        portOpen_ = line_->IsOpen();
        lastOpenError_ = TPortError{e.Code, e.SystemError};
        return TOpenResult::PortError;
    }
}

TCloseResult TLowLevel::ClosePort() {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    try {
        line_->Close();
        portOpen_ = false;
        return TCloseResult::Closed;
    } catch (const ECommError&) {
        return TCloseResult::PortError;
    }
}

bool TLowLevel::PortLost() const {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    return line_->Lost();
}

bool TLowLevel::ReopenLostPort() {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    if (!line_->Lost()) return false;
    if (ClosePort() != TCloseResult::Closed) return false;
    if (OpenPort(Settings.PortName) != TOpenResult::Opened) return false;
    return IdentifyExchange() == TIdentifyResult::Identified;
}

TLinkCheck TLowLevel::CheckLink() {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    try {
        for (int pass = 0; pass < kEchoPasses; ++pass) {
            if (Cancelled()) return TLinkCheck::Failed;
            line_->PurgeInput();
            line_->WriteByte(static_cast<uint8_t>(TCommand::Echo));
            // -1 (nothing came) has low bits FF and fails like a wrong byte.
            if ((ReadByteWait(kEchoWaitMs) & 0xFF) != 0) return TLinkCheck::Failed;
        }
        return TLinkCheck::Passed;
    } catch (const ECommError&) {
        return TLinkCheck::Failed;
    }
}

TLinkCheck TLowLevel::CheckLinkRetry() {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    for (int attempt = 0; attempt < kLinkTestAttempts; ++attempt) {
        if (Cancelled()) return TLinkCheck::Failed;
        if (attempt > 0) Pause(kLinkTestPauseMs);
        if (CheckLink() == TLinkCheck::Passed) return TLinkCheck::Passed;
    }
    return TLinkCheck::Failed;
}

bool TLowLevel::ReadPayload(uint8_t* reply, int capacity, int len, uint8_t& sum, int& checksum) {
    sum = 0;
    checksum = -1;
    for (int i = 0; i < len; ++i) {
        const int b = ReadByteWait(kReplyWaitMs);
        if (b < 0) {
            // The reply was cut short. Waiting for each missing byte would
            // only cost 750 ms apiece: the rest reads as FF at once.
            for (int j = i; j < len && j < capacity; ++j)
                reply[j] = 0xFF;
            return false;
        }
        if (i < capacity) reply[i] = static_cast<uint8_t>(b);
        sum = static_cast<uint8_t>(sum + b);
    }
    checksum = ReadByteWait(kReplyWaitMs);
    return true;
}

TTransactResult TLowLevel::Transact(uint8_t* reply, int& replyLen, TCommand command, bool verify,
                                    const uint8_t* block, int blockCount, uint8_t param) {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    try {
        line_->PurgeInput();
        bool linked = false;
        for (int round = 0; round < kTransactLinkRounds && !linked && !Cancelled(); ++round) {
            if (round > 0) Pause(kTransactRoundPauseMs);
            linked = CheckLinkRetry() == TLinkCheck::Passed;
        }
        if (!linked) return TTransactResult::NoLink;

        replyLen = -1;
        line_->PurgeInput();
        line_->WriteByte(static_cast<uint8_t>(command));
        if (block) {
            line_->WriteByte(param);
            line_->WriteByte(static_cast<uint8_t>(blockCount));
            line_->Flush();
            uint8_t sent = 0;
            for (int i = 0; i < blockCount; ++i) {
                const uint8_t v = block[i] ^ exchange_.Key;
                line_->WriteByte(v);
                sent = static_cast<uint8_t>(sent + v);
            }
            line_->WriteByte(sent);
        }

        // A missing length byte is no reply: the caller sees length -1.
        const int len = ReadByteWait(kReplyWaitMs);
        if (len < 0) return TTransactResult::Replied;
        replyLen = len;

        uint8_t sum = 0;
        int checksum = -1;
        if (!ReadPayload(reply, kRecordBufferSize, len, sum, checksum))
            return TTransactResult::Failed;
        // The checksum covers the bytes as they travelled. A mismatch is read
        // again without a new request, a bounded number of times.
        for (int reread = 0; verify && (checksum & 0xFF) != sum; ++reread) {
            if (reread == kMaxChecksumRereads) return TTransactResult::Failed;
            if (!ReadPayload(reply, kRecordBufferSize, len, sum, checksum))
                return TTransactResult::Failed;
        }
        for (int i = 0; i < len && i < kRecordBufferSize; ++i)
            reply[i] ^= exchange_.Key;
        return TTransactResult::Replied;
    } catch (const ECommError&) {
        return TTransactResult::Failed;
    }
}

TSelectResult TLowLevel::SelectUnit(int u, TSelectCaller caller) {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    try {
        return Select(u, caller);
    } catch (const ECommError&) {
        return TSelectResult::PortError;
    }
}

TSelectResult TLowLevel::Select(int u, TSelectCaller caller) {
    const uint8_t coded = static_cast<uint8_t>(u) ^ exchange_.Key;
    line_->WriteByte(static_cast<uint8_t>(TCommand::SelectUnit));
    line_->WriteByte(0x01);  // block length
    line_->WriteByte(coded);
    line_->WriteByte(coded);  // checksum of the one-byte block
    const bool identification = caller == TSelectCaller::Identification;
    Pause(identification ? kSelectPauseIdentifyMs : kSelectPauseReadingMs);
    // The echo of the command byte, then the answer.
    if (identification)
        line_->ReadWithin(kByteTimeoutMs);
    else
        ReadByteWait(kReplyWaitMs);
    return ReadByteWait(kReplyWaitMs) == kUnitSelected ? TSelectResult::Selected
                                                       : TSelectResult::Refused;
}

std::vector<std::string> TLowLevel::ConnectionTable() const {
    std::vector<std::string> texts;
    for (const TConnection& c : connections_)
        texts.push_back(ConnectionText(c));
    return texts;
}

TLineStateResult TLowLevel::QueryLineState(const std::atomic<bool>* cancel) {
    std::lock_guard<std::recursive_mutex> lock(portMutex_);
    struct TCancelScope {
        const std::atomic<bool>*& slot;
        ~TCancelScope() { slot = nullptr; }
    } scope{cancel_};
    cancel_ = cancel;
    lineStateAnswered_ = false;
    try {
        line_->PurgeInput();
    } catch (const ECommError&) {
        return TLineStateResult::NoLink;
    }
    if (CheckLinkRetry() != TLinkCheck::Passed) return TLineStateResult::NoLink;
    uint8_t reply[kRecordBufferSize] = {};
    int len = -1;
    const uint8_t block[] = {kLineStateBlock};
    const TTransactResult r =
        Transact(reply, len, TCommand::LineState, true, block, 1, kLineStateParam);
    switch (r) {
        case TTransactResult::Replied:
            break;
        case TTransactResult::Failed:
        case TTransactResult::NoLink:
            return TLineStateResult::Queried;
    }
    // No length byte is no reply: the last connections stand, as after a
    // failed request, rather than turning into one empty connection.
    if (len < 0) return TLineStateResult::Queried;
    connections_ = ParseLineState(exchange_.ModelName, reply, std::min(len, kRecordBufferSize));
    lineStateAnswered_ = true;
    return TLineStateResult::Queried;
}
