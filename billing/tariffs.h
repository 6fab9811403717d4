// The tariff table the administrator keeps in a spreadsheet and saves as
// CSV, and the rating of a call by it: which rate applies, how many seconds
// are billed and what the call costs, computed exactly in whole numbers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "billing/billing_result.h"

// One rate: one line of the tariff file.
struct TRate {
    std::string Prefix;   // digits; empty: every number ("*")
    std::string Zone;     // non-empty
    int64_t Price = 0;    // per minute, in ten-thousandths of a rouble
    int64_t Setup = 0;    // per billed call, likewise
    int First = 60;       // first billing increment, seconds (>= 1)
    int Step = 60;        // each further increment, seconds (>= 1)
    int Free = 0;         // a call this long or shorter costs nothing
    uint8_t Days = 0x7F;  // bit d - 1 set for weekday d (1 Monday .. 7 Sunday)
    int From = 0;         // seconds of the day the start must lie in:
    int To = 0;           // [From, To), wrapping past midnight when To < From;
                          // From == To: all day
    int Line = 0;         // line of the file, from 1
    int ZoneIndex = 0;    // index into TTariffs::Zones()
    // Whether the rate is limited to some days or hours (it then beats a
    // rate of the same prefix length without limits).
    bool Limited() const { return Days != 0x7F || From != To; }
};

// Billed seconds of a call of d seconds by rate: 0 when d <= Free; First
// when d <= First; else First + ceil((d - First) / Step) * Step.
int64_t BilledSeconds(const TRate& rate, int64_t d);
// Cost in kopecks of a call with billed seconds: 0 when billed is 0, else
// Setup + Price * billed / 60, rounded half up to a kopeck.
int64_t CostKopecks(const TRate& rate, int64_t billed);

class TTariffs {
  public:
    TTariffs();
    ~TTariffs();
    TTariffs(TTariffs&&) noexcept;
    TTariffs& operator=(TTariffs&&) noexcept;

    // Reads the rates of a tariff file's text (see the README for the
    // format). Loaded when every line is good: the table is replaced.
    // Invalid: the table stays as it was and the message says which line
    // and field are wrong and why ("Строка 5, поле «цена»: ...").
    TBillingResult Parse(std::string_view text);
    // The same for a file; one that cannot be read is CannotRead, with the
    // system's reason.
    TBillingResult Load(const std::string& path);

    bool Empty() const { return rates_.empty(); }
    const std::vector<TRate>& Rates() const { return rates_; }
    // Zone names in the order of their first line in the file.
    const std::vector<std::string>& Zones() const { return zones_; }

    // The rate for a call to dialled that starts on weekday (1 Monday .. 7
    // Sunday) at secondOfDay: of the rates whose prefix begins dialled and
    // whose days and hours hold the start, the longest prefix; at equal
    // length a limited rate before an unlimited one; then the earlier line.
    // nullptr: no rate applies ("Без тарифа"). Never scans every rate.
    const TRate* RateFor(std::string_view dialled, int weekday, int secondOfDay) const;

  private:
    struct TIndex;
    std::vector<TRate> rates_;
    std::vector<std::string> zones_;
    std::unique_ptr<TIndex> index_;
};

// The zone name of calls no rate applies to.
inline constexpr const char* kNoTariffZone = "Без тарифа";
