// Since when each subscriber line and trunk has been busy, as the monitor's
// line-state replies show it: a line or trunk counts from the first reply
// that had it in a connection, and a reply without it ends its count (seen
// busy again later, it starts anew).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "link/byte_line.h"
#include "link/line_state.h"

// One busy subscriber line or trunk as the last reply showed it.
struct TBusyConnection {
    uint8_t Kind = 0;  // TParticipantKind::SubscriberLine or Trunk
    int Number = -1;   // by the model's numbering
    // The poll that first saw it busy, on the tracker's clock.
    IClock::TTimePoint Since{};
    // From Since to the last poll that answered.
    std::chrono::seconds Lasted{0};
    // Its connection's text (UTF-8, without trailing blanks); those of both
    // connections, "; " apart, for one in two connections.
    std::string Connection;
};

class TBusyTracker {
  public:
    using TNow = std::function<IClock::TTimePoint()>;
    using TAfterPoll = std::function<void(const std::vector<TBusyConnection>&)>;

    // now gives the time of each poll; the machine's monotonic clock when
    // empty.
    explicit TBusyTracker(TNow now = TNow());

    // Takes the connections of a reply that answered, at now(): lines and
    // trunks not in it are dropped, new ones start at now(), the others keep
    // their start. Participants the model cannot number are left out. Then
    // calls the after-poll hook, if set, with Busy().
    void Update(const std::vector<TConnection>& connections);
    // Forgets every line and trunk (the monitor closed: no poll sees them).
    void Clear();
    // Every busy line and trunk, lines first, each kind by number.
    const std::vector<TBusyConnection>& Busy() const { return busy_; }
    // How long kind's number has been busy; negative when it is not.
    std::chrono::seconds Lasted(uint8_t kind, int number) const;

    // Called on the thread that calls Update (the monitor's: the
    // user-interface thread) after each reply that answered, with every
    // line and trunk busy by it, empty when none is. Must not wait: the next
    // poll is due within a second.
    void SetAfterPoll(TAfterPoll hook) { afterPoll_ = std::move(hook); }

  private:
    TNow now_;
    TAfterPoll afterPoll_;
    std::vector<TBusyConnection> busy_;
};

// "hh:mm:ss" of d (negative counts as 0); hours go beyond 99 as needed.
std::string DurationText(std::chrono::seconds d);

// The monitor's line for connection with, after each busy line and trunk
// of it, how long it has been busy in brackets, e.g.
// "АЛ205(0) [00:01:05]   СЛ204(1) [00:00:40]   " (UTF-8).
std::string BusyConnectionText(const TConnection& connection, const TBusyTracker& busy);

// ConnectedLines with how long each line has been busy before its
// partners: "занята 00:01:05; СЛ204(1)" (UTF-8).
std::map<int, std::string> BusyLineTips(const std::vector<TConnection>& connections,
                                        const TBusyTracker& busy);
