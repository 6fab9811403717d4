// An alert: something the administrator must learn of at once, a call
// that matched a rule or a condition that began or ended, as it is handed
// to the places it is delivered to.
#pragma once

#include <ctime>
#include <string>

enum class TAlertKind {
    Cost,      // a finished call cost at least the rule's roubles
    Duration,  // a finished call lasted at least the rule's minutes
    Prefix,    // a call to one of the rule's dialled prefixes
    Hours,     // an outgoing call outside the rule's working days and hours
    Live,      // a connection still going on after the rule's minutes
    Buffer,    // the exchange's billing buffer at least the rule's per cent full
    Silent,    // no answer from the exchange for the rule's minutes
    Held,      // the reading held: the call log or the state file cannot be written
    Db,        // the database the rule's calls or minutes behind the call log
};

// "cost", "duration", … as the rules file names them.
const char* AlertKindName(TAlertKind kind);

struct TAlert {
    // Unique for ever: a call's alert is keyed by the call (the file and
    // the offset of its line), a condition's by its episode, raised and
    // cleared apart. A place delivered to twice may use it to tell.
    std::string Key;
    TAlertKind Kind = TAlertKind::Cost;
    bool Cleared = false;  // the end of a condition's episode
    std::string Site;      // the office, when the program ships to a database
    std::string Text;      // one line, Russian, UTF-8
    std::string CallLine;  // the call's line as in the call log (UTF-8); empty for a condition
    std::time_t At = 0;    // when it was raised (or cleared)
};

// A place an alert is delivered to besides the journal (the desktop, the
// database; mail has one of its own).
class IAlertSink {
  public:
    virtual ~IAlertSink() = default;
    // Delivers alert; empty when it was, else why not (then it is tried
    // again later, with back-off). Must not wait long: a few seconds at
    // most.
    virtual std::string Deliver(const TAlert& alert) = 0;
};
