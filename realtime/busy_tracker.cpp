#include "realtime/busy_tracker.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "realtime/line_grid.h"

namespace {

bool Tracked(const TParticipant& p) {
    return p.Number >= 0 && (p.Kind == static_cast<uint8_t>(TParticipantKind::SubscriberLine) ||
                             p.Kind == static_cast<uint8_t>(TParticipantKind::Trunk));
}

std::string Trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

}  // namespace

TBusyTracker::TBusyTracker(TNow now) : now_(std::move(now)) {
    if (!now_) now_ = [] { return TSteadyClock::Instance().Now(); };
}

void TBusyTracker::Update(const std::vector<TConnection>& connections) {
    const IClock::TTimePoint now = now_();
    std::map<std::pair<uint8_t, int>, TBusyConnection> seen;
    for (const TConnection& c : connections)
        for (const TParticipant& p : c) {
            if (!Tracked(p)) continue;
            TBusyConnection& b = seen[{p.Kind, p.Number}];
            const std::string text = Trimmed(ConnectionText(c));
            if (b.Number < 0) {
                b.Kind = p.Kind;
                b.Number = p.Number;
                b.Since = now;
                b.Connection = text;
            } else if (b.Connection != text) {
                b.Connection += "; " + text;
            }
        }
    for (const TBusyConnection& before : busy_) {
        const auto it = seen.find({before.Kind, before.Number});
        if (it != seen.end()) it->second.Since = before.Since;
    }
    busy_.clear();
    for (auto& [key, b] : seen) {
        b.Lasted = std::chrono::duration_cast<std::chrono::seconds>(now - b.Since);
        busy_.push_back(std::move(b));
    }
    // Lines (0x44) before trunks (0x46): the map's order already.
    if (afterPoll_) afterPoll_(busy_);
}

void TBusyTracker::Clear() {
    busy_.clear();
}

std::chrono::seconds TBusyTracker::Lasted(uint8_t kind, int number) const {
    for (const TBusyConnection& b : busy_)
        if (b.Kind == kind && b.Number == number) return b.Lasted;
    return std::chrono::seconds(-1);
}

std::string DurationText(std::chrono::seconds d) {
    const long long s = std::max<long long>(0, d.count());
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    return text;
}

std::string BusyConnectionText(const TConnection& connection, const TBusyTracker& busy) {
    std::string text;
    for (const TParticipant& p : connection) {
        std::string one = Trimmed(ConnectionText({p}));
        if (Tracked(p)) {
            const std::chrono::seconds lasted = busy.Lasted(p.Kind, p.Number);
            if (lasted.count() >= 0) one += " [" + DurationText(lasted) + "]";
        }
        text += one + "   ";
    }
    return text;
}

std::map<int, std::string> BusyLineTips(const std::vector<TConnection>& connections,
                                        const TBusyTracker& busy) {
    std::map<int, std::string> tips = ConnectedLines(connections);
    for (auto& [line, text] : tips) {
        const std::chrono::seconds lasted =
            busy.Lasted(static_cast<uint8_t>(TParticipantKind::SubscriberLine), line);
        if (lasted.count() >= 0) text = "занята " + DurationText(lasted) + "; " + text;
    }
    return tips;
}
