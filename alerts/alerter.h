// The alerts of the program: the rules of TallyphonAlerts.cfg over every
// call written to the call log, and the conditions the monitors raise and
// clear, each delivered exactly once to the journal and to the places its
// rule names (the desktop, the database, mail).
//
// The alerter follows the call-log file as the database's shipper does:
// Notify after lines were written, and it reads the complete lines past
// the offset it has evaluated up to. Its state file (TallyphonAlerts.state
// in the start-up directory) keeps that offset with the file's identity,
// the open condition episodes and the outbox of alerts not yet delivered
// everywhere. A line's alerts go into the outbox in the same write of the
// state that moves the offset past it, and only then are delivered; each
// delivery done is taken out of the outbox by a further write. So a kill at
// any moment loses no alert; one between a delivery and its write repeats
// that delivery once, with the same key (a mail's Message-ID is made of
// it). Reading and delivering run on a thread of the alerter's own.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "alerts/alert.h"
#include "alerts/alert_rules.h"
#include "alerts/call_rules.h"

// The state file's name in the start-up directory.
inline constexpr const char* kAlertStateFileName = "TallyphonAlerts.state";

// An alert on its way: where it still has to go ("journal", "desktop",
// "db", "mail:ADDRESS") and the group its mails are sent by (one rule, or
// one kind of condition), at most one mail per group and address per
// MailInterval.
struct TOutboxEntry {
    TAlert Alert;
    std::string Group;
    std::vector<std::string> Pending;
};

// What the state file keeps.
struct TAlertState {
    // The call-log file evaluated: its device and inode, the hash of its
    // first line (as the shipper identifies files) and the offset past the
    // last line evaluated. Known false before any file was seen.
    bool Known = false;
    uint64_t Device = 0, Inode = 0;
    int64_t HeadId = 0;
    int64_t Offset = 0;
    // The open condition episodes by kind: key of the raised alert, detail.
    struct TEpisode {
        std::string Key;
        std::string Detail;
    };
    std::map<int, TEpisode> Episodes;
    // When the last mail of a group went to an address ("group\taddress").
    std::map<std::string, std::time_t> LastMail;
    uint64_t Sequence = 0;  // makes condition keys unique for ever
    std::vector<TOutboxEntry> Outbox;
};

// The state's text (UTF-8 lines of tab-separated, escaped fields).
std::string FormatAlertState(const TAlertState& state);
// Reads text into state; false when it is not a state file's text.
bool ParseAlertState(std::string_view text, TAlertState& state);

struct TAlerterOptions {
    // A failed delivery is tried again after RetryAfter, then twice as
    // long after each failure, at most RetryMax.
    int RetryAfter = 30;
    int RetryMax = 30 * 60;
    // At most one mail per rule and address in this many seconds: alerts
    // in between go together in the next one.
    int MailInterval = 10 * 60;
    // How long one run of sendmail may take.
    int SendTimeoutMs = 20000;
    // The wall clock in seconds (time() when empty): tests move it.
    std::function<std::time_t()> Clock;
    std::string Site;  // the office, when the program ships to a database
    std::string Host;  // for the From address and Message-ID; this computer's name when empty
};

class TAlerter {
  public:
    // Reads the rules at rulesPath (RulesResult tells how; an error is told
    // in the journal too) and the state file in startDir.
    TAlerter(std::string rulesPath, const std::string& startDir, TAlerterOptions options = {});
    // Stops the thread (Stop).
    ~TAlerter();
    TAlerter(const TAlerter&) = delete;
    TAlerter& operator=(const TAlerter&) = delete;

    const TAlertRulesResult& RulesResult() const { return rulesResult_; }
    // The rules read; the monitors take their thresholds from here.
    const TAlertRules& Rules() const { return rules_; }
    // The first rule of kind, or nullptr: whether a condition is watched.
    const TAlertRule* RuleOf(TAlertKind kind) const;

    // A place alerts go to by name ("desktop", "db"); not owned, must
    // outlive the alerter. Only before Start.
    void SetSink(const std::string& name, IAlertSink* sink);

    // Starts the thread: delivers the outbox and evaluates the lines of
    // callLogPath past the offset kept (at the first start ever, the
    // lines already there are passed over: the rules watch calls from
    // then on).
    void Start(const std::string& callLogPath);
    // Lines were written to callLogPath: evaluate them. Never blocks on
    // the evaluation or a delivery.
    void Notify(const std::string& callLogPath);
    // Wakes the thread to look at what is due (after the clock moved).
    void Kick();
    // Ends the thread, killing a sendmail still running; waits for it (a
    // sink's delivery under way is waited for, a few seconds at most).
    void Stop();

    // A condition began: an alert with detail (Russian, one line) unless
    // its episode is open already (raised before, a restart between
    // included). True when an alert was made. Any thread.
    bool Raise(TAlertKind kind, const std::string& detail);
    // The condition ended: an alert closing its episode; false when none
    // was open. Any thread.
    bool Clear(TAlertKind kind, const std::string& detail = std::string());
    // Whether the episode of kind is open.
    bool Raised(TAlertKind kind) const;

    // Evaluates the complete lines of callLogPath past the offset on the
    // calling thread; the number of alerts made. Only while not started.
    size_t EvaluatePending(const std::string& callLogPath);
    // Delivers what is due on the calling thread; when the next delivery
    // is due (0: nothing waits). Only while not started.
    std::time_t DeliverDue();
    // Alerts not yet delivered everywhere.
    size_t OutboxSize() const;
    // Mails sent (a mail of several alerts counts once), sink deliveries
    // done, alerts made.
    uint64_t MailsSent() const { return mails_.load(); }
    uint64_t AlertsMade() const { return made_.load(); }

    // The rules a call line (the file's bytes, no line end) matches,
    // appended to matched; false when it is no call line. For measuring.
    bool EvaluateLine(std::string_view bytes, std::vector<size_t>& matched) const;

  private:
    struct TBackoff {
        std::time_t Next = 0;
        int Delay = 0;
        bool Told = false;
    };

    std::time_t Now() const;
    // At the first start ever (no state file), moves the offset past the
    // complete lines the call log already holds: the rules watch the calls
    // written from then on. True when it did.
    void PassOver(const std::string& path);
    bool PassOver(int fd, const struct stat& st, int64_t headId);
    void Run();
    // Writes the state file (mutex_ held); false, told once, when it cannot.
    bool Save();
    void Enqueue(TAlert alert, const std::string& group, const TAlertDelivery& delivery);
    TAlertDelivery DeliveryOf(TAlertKind kind) const;
    std::string AlertText(const TAlertRule& rule, const TExtStr_rep& call) const;
    // One delivery failed or succeeded at dest.
    void Failed(const std::string& dest, const std::string& why);
    void Succeeded(const std::string& dest);
    void Done(const std::string& key, const std::string& dest);

    std::string rulesPath_;
    std::string statePath_;
    TAlerterOptions options_;
    TAlertRulesResult rulesResult_;
    TAlertRules rules_;
    std::unique_ptr<TCallRules> callRules_;
    std::map<std::string, IAlertSink*> sinks_;
    std::string host_;

    mutable std::mutex mutex_;
    TAlertState state_;
    bool fresh_ = false;       // no state file was found: pass over what the log holds
    bool dirty_ = false;       // the offset moved past lines without alerts, unsaved
    std::time_t savedAt_ = 0;  // when the state was last written
    bool saveFailed_ = false;
    std::map<std::string, TBackoff> backoff_;
    std::set<std::string> toldMissing_;

    // What wakes the thread, apart from the state, so that Notify never
    // waits for a write of the state.
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    bool notified_ = false;
    bool kicked_ = false;
    std::string path_;
    std::atomic<uint64_t> mails_{0}, made_{0};
};
