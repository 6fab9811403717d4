#include "link/line_state.h"

#include "link/exchange_model.h"

const char* KindName(uint8_t kind) {
    switch (kind) {
        case static_cast<uint8_t>(TParticipantKind::SubscriberLine):
            return "АЛ";
        case static_cast<uint8_t>(TParticipantKind::Df):
            return "Дф";
        case static_cast<uint8_t>(TParticipantKind::Trunk):
            return "СЛ";
        case static_cast<uint8_t>(TParticipantKind::Loudspeaker):
            return "ГГС";
        default:
            return "???";
    }
}

std::vector<TConnection> ParseLineState(const std::string& modelName, const uint8_t* payload,
                                        int len) {
    std::vector<TConnection> groups;
    int at = 0;
    while (at < len && static_cast<int>(groups.size()) < kMaxConnections) {
        const int n = payload[at++];
        if (at + 3 * n > len) break;  // the group is cut short
        TConnection c;
        for (int i = 0; i < n; ++i, at += 3) {
            TParticipant p;
            p.Kind = payload[at];
            const uint8_t a = payload[at + 1];
            p.Number = p.Kind == static_cast<uint8_t>(TParticipantKind::Trunk)
                           ? TrunkNumberOf(modelName, a)
                           : SubscriberLineNumber(modelName, a);
            p.Detail = payload[at + 2];
            c.push_back(p);
        }
        groups.push_back(std::move(c));
        // A 0 where the next count would be ends the list.
        if (at < len && payload[at] == 0) break;
    }
    return groups;
}

std::string ConnectionText(const TConnection& connection) {
    std::string text;
    for (const TParticipant& p : connection)
        text += std::string(KindName(p.Kind)) + std::to_string(p.Number) + "(" +
                std::to_string(p.Detail) + ")   ";
    return text;
}
