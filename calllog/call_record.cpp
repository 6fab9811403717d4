#include "calllog/call_record.h"

#include "calllog/report_datetime.h"

double TExtStr_rep::Duration() const {
    return EncodeRepDateTime(1900, 1, 1, DurHour(), DurMin(), DurSec());
}

std::string ListKey(std::string_view site, std::string_view text) {
    if (site.empty()) return std::string(text);
    std::string key(site);
    key += '\x1f';  // no office's name holds a control character
    key += text;
    return key;
}
