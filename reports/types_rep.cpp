#include "reports/types_rep.h"

#include <cstdio>

void TTraffic_rep::SetMin(int64_t& hours, uint32_t& minutes, uint32_t v) {
    minutes = v;
    if (v >= 60) {
        hours += v / 60;
        minutes = v % 60;
    }
}

void TTraffic_rep::SetSec(int64_t& hours, uint32_t& minutes, uint32_t& seconds, uint32_t v) {
    seconds = v;
    if (v >= 60) {
        SetMin(hours, minutes, minutes + v / 60);
        seconds = v % 60;
    }
}

void TTraffic_rep::AddCall(const TExtStr_rep& line) {
    if (line.ExtNumber.empty()) {
        InHour += line.DurHour();
        SetInMin(InMin_ + line.DurMin());
        SetInSec(InSec_ + line.DurSec());
        InTotalSec += line.DurTotalSec;
    } else {
        OutHour += line.DurHour();
        SetOutMin(OutMin_ + line.DurMin());
        SetOutSec(OutSec_ + line.DurSec());
        OutTotalSec += line.DurTotalSec;
    }
    TotalSec += line.DurTotalSec;
}

void TTraffic_rep::AddSeconds(int64_t inSeconds, int64_t outSeconds) {
    // AddCall keeps minutes and seconds below 60, so the counters are the
    // totals' hours, minutes and seconds.
    InTotalSec += inSeconds;
    OutTotalSec += outSeconds;
    TotalSec += inSeconds + outSeconds;
    InHour = InTotalSec / 3600;
    InMin_ = static_cast<uint32_t>(InTotalSec / 60 % 60);
    InSec_ = static_cast<uint32_t>(InTotalSec % 60);
    OutHour = OutTotalSec / 3600;
    OutMin_ = static_cast<uint32_t>(OutTotalSec / 60 % 60);
    OutSec_ = static_cast<uint32_t>(OutTotalSec % 60);
}

std::string TrafficText(int64_t hours, uint32_t minutes, uint32_t seconds) {
    char buf[64];
    int n = std::snprintf(buf, sizeof buf, "%02lld:%02u:%02u", static_cast<long long>(hours),
                          minutes, seconds);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string TrafficText(int64_t totalSeconds) {
    return TrafficText(totalSeconds / 3600, static_cast<uint32_t>((totalSeconds / 60) % 60),
                       static_cast<uint32_t>(totalSeconds % 60));
}
