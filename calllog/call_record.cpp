#include "calllog/call_record.h"

#include "calllog/report_datetime.h"

double TExtStr_rep::Duration() const {
    return EncodeRepDateTime(1900, 1, 1, DurHour(), DurMin(), DurSec());
}
