// The administrator's alert rules: the file TallyphonAlerts.cfg in the
// start-up directory, one rule a line ("KIND;PARAMETER;DELIVERY"), read as
// the tariff file is (UTF-8 or Windows-1251, the same quoting), and what
// each rule's parameter means once read. See docs/alerts.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "alerts/alert.h"
#include "billing/tariffs.h"
#include "billing/work_hours.h"

// The rules file's name in the start-up directory.
inline constexpr const char* kAlertRulesFileName = "TallyphonAlerts.cfg";
// The sendmail program used when the file names none.
inline constexpr const char* kDefaultSendmail = "/usr/sbin/sendmail";

// Where a rule's alerts go besides the journal, which gets every alert.
struct TAlertDelivery {
    bool Desktop = false;
    bool Db = false;
    std::vector<std::string> Mail;  // addresses
};

struct TAlertRule {
    int Line = 0;  // the line of the file, from 1
    TAlertKind Kind = TAlertKind::Cost;
    std::string Parameter;  // as written, for messages
    TAlertDelivery Delivery;
    // The parameter as read, by kind:
    int64_t Kopecks = 0;                // cost: at least this
    int Minutes = 0;                    // duration, live, silent, db (DbMinutes): at least this
    int Percent = 0;                    // buffer: 1 .. 100
    std::vector<std::string> Prefixes;  // prefix: the dialled numbers' beginnings
    TWorkHours Hours;                   // hours: the working days and hours
    int64_t DbCalls = 0;                // db: calls behind (0: minutes are meant)
};

struct TAlertRules {
    std::vector<TAlertRule> Rules;
    std::string TariffsPath;                  // TARIFFS=; empty when not given
    std::shared_ptr<const TTariffs> Tariffs;  // loaded from it; null when not given
    std::string Sendmail = kDefaultSendmail;  // SENDMAIL=
};

enum class TAlertRulesOutcome {
    Loaded,
    NoFile,      // no rules file: no rules (rules left empty)
    CannotRead,  // the file, or the tariff file it names, cannot be read
    Invalid,     // a line or field is wrong
};

struct [[nodiscard]] TAlertRulesResult {
    TAlertRulesOutcome Outcome = TAlertRulesOutcome::Loaded;
    // Why, in Russian, naming the file, the line and the field; empty when
    // loaded or when there is no file.
    std::string Message;
    int Errno = 0;  // of the file operation that failed
    bool Ok() const {
        return Outcome == TAlertRulesOutcome::Loaded || Outcome == TAlertRulesOutcome::NoFile;
    }
};

// Reads the rules of text (UTF-8) of the file called name (for messages).
// Loaded: rules replaced, the tariff file not yet read (Tariffs null).
// Invalid: rules untouched, the message "«name»: Строка N, поле «…»: …".
TAlertRulesResult ParseAlertRules(std::string_view text, const std::string& name,
                                  TAlertRules& rules);
// Reads the rules file at path and the tariff file its TARIFFS= names
// (relative to the rules file's directory when not absolute). NoFile when
// path does not exist (rules emptied); CannotRead or Invalid (rules
// untouched) for a file, or a tariff file, that cannot be read or is wrong.
TAlertRulesResult LoadAlertRules(const std::string& path, TAlertRules& rules);

// Reads "500", "500,00" or "500.5" roubles into kopecks (> 0); false when
// it is not that.
bool ParseRoubles(std::string_view text, int64_t& kopecks);
// Kopecks as "612,40".
std::string RoublesText(int64_t kopecks);
