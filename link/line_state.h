// The exchange's answer to the line-state query: which lines take part in
// a connection at this moment, decoded by the model's numbering, and the
// text the monitor shows and logs for each connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Room in the connection table: a reply with more groups is cut here.
constexpr int kMaxConnections = 60;

// Kind bytes of a participant.
enum class TParticipantKind : uint8_t {
    SubscriberLine = 0x44,  // "АЛ"
    Df = 0x45,              // "Дф"
    Trunk = 0x46,           // "СЛ"
    Loudspeaker = 0x47,     // "ГГС"
};

struct TParticipant {
    uint8_t Kind = 0;    // kind byte as sent (unknown ones too)
    int Number = -1;     // by the model's numbering; -1 where it has none
    uint8_t Detail = 0;  // detail byte as sent
};

using TConnection = std::vector<TParticipant>;

// "АЛ", "Дф", "СЛ" or "ГГС" (UTF-8) for a known kind byte, else "???".
const char* KindName(uint8_t kind);

// Decodes a descrambled line-state payload of len bytes: groups of a count
// byte n and n participants of three bytes, until a count byte is followed
// by 0. Stops at kMaxConnections groups and at the end of the payload; a
// group that the payload cuts short is dropped. A payload of a single 00 is
// one empty connection; len 0 (or below) none.
std::vector<TConnection> ParseLineState(const std::string& modelName, const uint8_t* payload,
                                        int len);

// The monitor's line of a connection (UTF-8): per participant the kind
// name, the number in decimal, the detail in parentheses and three blanks,
// e.g. "АЛ205(0)   СЛ204(1)   ".
std::string ConnectionText(const TConnection& connection);
