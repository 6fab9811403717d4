// Faults of the simulated exchange and the times they end.
#include "tools/sim_exchange/fault_injector.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace sim {

void TFaultInjector::Reset() {
    comeBackPending_ = false;
    linkBackPending_ = false;
}

void TFaultInjector::ScriptEchoes(std::map<int, int> replies) {
    for (const auto& [n, v] : replies)
        if (n < 1 || v < -1 || v > 255)
            throw std::invalid_argument(
                "echo script: echo numbers start at 1, replies are -1..255");
    echoScript_ = std::move(replies);
    echoCount_ = 0;
}

int TFaultInjector::EchoReply() {
    ++echoCount_;
    auto it = echoScript_.find(echoCount_);
    return it == echoScript_.end() ? 0 : it->second;
}

void TFaultInjector::SetStatusChecksumErrors(int n) {
    statusChecksumErrors_ = std::max(n, 0);
}

bool TFaultInjector::SpoilStatus() {
    bool bad = statusChecksumErrors_ > 0;
    if (bad) --statusChecksumErrors_;
    return bad;
}

void TFaultInjector::ArmRecordFault(TReplyFault fault, int nth, std::chrono::milliseconds comeBack,
                                    const std::string& decoy) {
    if (nth < 1) throw std::invalid_argument("record fault: nth counts from 1");
    if (fault == TReplyFault::None) {
        armed_.clear();  // None disarms
        return;
    }
    armed_.push_back({recordReplies_ + static_cast<uint64_t>(nth), fault, comeBack, decoy});
}

TFaultInjector::TRecordFault TFaultInjector::NextRecordReply(TimePoint when) {
    ++recordReplies_;
    TRecordFault f;
    for (auto it = armed_.begin(); it != armed_.end();) {
        if (it->At != recordReplies_) {
            ++it;
            continue;
        }
        // The name moving does not touch the reply, so it combines with
        // one fault that does; a second such fault on the reply is lost.
        if (it->Fault == TReplyFault::HideLink) {
            MoveLink(it->Decoy.empty() ? TLinkState::Hidden : TLinkState::Elsewhere, it->Decoy,
                     it->ComeBack, when);
        } else if (f.Fault == TReplyFault::None) {
            f = {it->Fault, it->ComeBack};
        }
        it = armed_.erase(it);
    }
    return f;
}

bool TFaultInjector::Spoil(const TRecordFault& fault, std::vector<uint8_t>& frame,
                           size_t payloadSize, TimePoint when) {
    switch (fault.Fault) {
        case TReplyFault::Vanish:
            transport_.Vanish();
            if (fault.ComeBack.count() > 0) {
                comeBackPending_ = true;
                comeBackAt_ = when + fault.ComeBack;
            }
            return false;
        case TReplyFault::Lost:
            return false;
        case TReplyFault::FlippedByte:
            frame[1 + payloadSize / 2] ^= kFlipMask;
            break;
        case TReplyFault::SilenceAfterLength:
            frame.resize(1);
            break;
        case TReplyFault::CutShort:
            frame.resize(1 + payloadSize / 2);
            break;
        default:
            break;
    }
    return true;
}

void TFaultInjector::Vanish() {
    comeBackPending_ = false;
    transport_.Vanish();
}

void TFaultInjector::Reappear() {
    comeBackPending_ = false;
    if (!transport_.Revive()) std::fprintf(stderr, "%s\n", transport_.LastError().c_str());
    transport_.Wake();
}

void TFaultInjector::MoveLink(TLinkState state, const std::string& decoy,
                              std::chrono::milliseconds back, TimePoint from) {
    linkBackPending_ = state != TLinkState::Shown && back.count() > 0;
    linkBackAt_ = from + back;
    transport_.PointLink(state, decoy);
    transport_.Wake();
}

void TFaultInjector::ComeBackBy(TimePoint now) {
    if (!comeBackPending_ || comeBackAt_ > now) return;
    comeBackPending_ = false;
    if (transport_.Vanished() && !transport_.Revive())
        std::fprintf(stderr, "%s\n", transport_.LastError().c_str());
}

void TFaultInjector::LinkBackBy(TimePoint now) {
    if (!linkBackPending_ || linkBackAt_ > now) return;
    linkBackPending_ = false;
    MoveLink(TLinkState::Shown, "", std::chrono::milliseconds(0), now);
}

void TFaultInjector::NextDue(TimePoint& next) const {
    if (comeBackPending_) next = std::min(next, comeBackAt_);
    if (linkBackPending_) next = std::min(next, linkBackAt_);
}

}  // namespace sim
