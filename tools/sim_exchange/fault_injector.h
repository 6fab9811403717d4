// The faults the simulated exchange is told to commit: silence, scripted
// echoes, spoilt checksums, record replies lost, cut, flipped or followed by
// the device vanishing, and the link name going away or leading elsewhere,
// each with its time to come back. The protocol asks it what to spoil; the
// transport carries out what touches the device or its name.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/sim_exchange/sim_exchange.h"
#include "tools/sim_exchange/transport.h"

namespace sim {

class TFaultInjector {
  public:
    using TimePoint = TTransport::TimePoint;

    // The fault a record reply suffers.
    struct TRecordFault {
        TReplyFault Fault = TReplyFault::None;
        std::chrono::milliseconds ComeBack{0};  // Vanish: when the device is back
    };

    explicit TFaultInjector(TTransport& transport) : transport_(transport) {}

    // Serving starts or stops: nothing is to come back.
    void Reset();

    // --- the protocol's faults ------------------------------------------------
    void SetSilent(bool silent) { silent_ = silent; }
    bool Silent() const { return silent_; }
    void ScriptEchoes(std::map<int, int> replies);
    // The reply to the next echo: 0 unless scripted, -1 for none.
    int EchoReply();
    void SetStatusChecksumErrors(int n);
    // Whether the next status reply carries a wrong checksum (uses one up).
    bool SpoilStatus();
    void SetIdentifySilent(bool silent) { identifySilent_ = silent; }
    bool IdentifySilent() const { return identifySilent_; }
    void SetFirstRecordBadChecksum(bool bad) { firstRecordBad_ = bad; }
    bool FirstRecordBad() const { return firstRecordBad_; }

    // --- record replies -------------------------------------------------------
    void ArmRecordFault(TReplyFault fault, int nth, std::chrono::milliseconds comeBack,
                        const std::string& decoy);
    // Counts a record reply sent at when and takes the fault armed for it;
    // a name armed to move moves now.
    TRecordFault NextRecordReply(TimePoint when);
    // Spoils frame, the framed reply of a payload of payloadSize bytes, as
    // fault says; false when nothing at all is to be sent.
    bool Spoil(const TRecordFault& fault, std::vector<uint8_t>& frame, size_t payloadSize,
               TimePoint when);

    // --- the device and its name ----------------------------------------------
    void Vanish();
    void Reappear();
    // Points the name as state says (at decoy when Elsewhere), to come back
    // `back` after from unless back is zero or the name is shown.
    void MoveLink(TLinkState state, const std::string& decoy, std::chrono::milliseconds back,
                  TimePoint from);
    // The device comes back, and the name is shown again, when its time has
    // come by now.
    void ComeBackBy(TimePoint now);
    void LinkBackBy(TimePoint now);
    // Lowers next to the next coming back.
    void NextDue(TimePoint& next) const;

  private:
    struct TArmed {
        uint64_t At;  // record reply number that suffers the fault
        TReplyFault Fault;
        std::chrono::milliseconds ComeBack;
        std::string Decoy;
    };

    TTransport& transport_;
    bool silent_ = false;
    bool identifySilent_ = false;
    bool firstRecordBad_ = false;
    int statusChecksumErrors_ = 0;
    std::map<int, int> echoScript_;
    int echoCount_ = 0;
    uint64_t recordReplies_ = 0;
    std::vector<TArmed> armed_;
    bool comeBackPending_ = false;
    TimePoint comeBackAt_{};
    bool linkBackPending_ = false;
    TimePoint linkBackAt_{};
};

}  // namespace sim
