// The subscriber-line and trunk entries a report sums the calls into.
#pragma once

#include <cstdint>
#include <string>

#include "calllog/call_record.h"

// Traffic counters shared by the subscriber-line and trunk entries. Minutes and
// seconds change only through the setters, which keep them within 0-59 by
// carrying into the next larger unit. The second counts are 64-bit so that a
// large file can never overflow them.
class TTraffic_rep {
  public:
    int64_t InHour = 0;
    uint32_t InMin() const { return InMin_; }
    uint32_t InSec() const { return InSec_; }
    int64_t OutHour = 0;
    uint32_t OutMin() const { return OutMin_; }
    uint32_t OutSec() const { return OutSec_; }
    int64_t TotalSec = 0;
    int64_t InTotalSec = 0;
    int64_t OutTotalSec = 0;

    void SetInMin(uint32_t v) { SetMin(InHour, InMin_, v); }
    void SetInSec(uint32_t v) { SetSec(InHour, InMin_, InSec_, v); }
    void SetOutMin(uint32_t v) { SetMin(OutHour, OutMin_, v); }
    void SetOutSec(uint32_t v) { SetSec(OutHour, OutMin_, OutSec_, v); }

    // Adds one call: incoming when its dialled number is empty, else outgoing.
    void AddCall(const TExtStr_rep& line);
    // Adds the traffic of calls summed elsewhere (the database's sums),
    // leaving the counters as AddCall of each call would have.
    void AddSeconds(int64_t inSeconds, int64_t outSeconds);

  private:
    static void SetMin(int64_t& hours, uint32_t& minutes, uint32_t v);
    static void SetSec(int64_t& hours, uint32_t& minutes, uint32_t& seconds, uint32_t v);

    uint32_t InMin_ = 0;
    uint32_t InSec_ = 0;
    uint32_t OutMin_ = 0;
    uint32_t OutSec_ = 0;
};

// One distinct subscriber line.
struct TAL_rep : TTraffic_rep {
    // The office whose line this is, when a report covers several; else
    // empty.
    std::string Site;
    std::string HwLine;
    std::string PrgLine;  // programmed number of the line's first call
};

// One distinct trunk.
struct TSL_rep : TTraffic_rep {
    std::string Site;   // as TAL_rep's
    std::string Trunk;  // compared byte for byte
};

// Hours, minutes and seconds joined by ":", each at least two digits; the
// hours are never cut (123:00:45).
std::string TrafficText(int64_t hours, uint32_t minutes, uint32_t seconds);

// The traffic text of a count of seconds.
std::string TrafficText(int64_t totalSeconds);
