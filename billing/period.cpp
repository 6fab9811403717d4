#include "billing/period.h"

#include "base/calendar.h"
#include "billing/rep_start.h"
#include "calllog/report_datetime.h"

bool TPeriod::Holds(double startTime) const {
    const TRepStart start = SplitRepStart(startTime);
    return start.Day >= FromDay && start.Day <= ToDay;
}

bool ParseIsoDate(std::string_view text, int32_t& day) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    int parts[3] = {0, 0, 0};
    const size_t begin[3] = {0, 5, 8}, len[3] = {4, 2, 2};
    for (int k = 0; k < 3; ++k) {
        for (size_t i = begin[k]; i < begin[k] + len[k]; ++i) {
            if (text[i] < '0' || text[i] > '9') return false;
            parts[k] = parts[k] * 10 + (text[i] - '0');
        }
    }
    if (!IsValidRepDate(parts[0], parts[1], parts[2])) return false;
    day = static_cast<int32_t>(DaysFromCivil(parts[0], parts[1], parts[2]) -
                               DaysFromCivil(1899, 12, 30));
    return true;
}
