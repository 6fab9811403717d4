#include "alerts/call_rules.h"

#include <algorithm>

#include "billing/rating.h"
#include "billing/rep_start.h"

int TCallRules::Slot(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c == '*') return 10;
    if (c == '#') return 11;
    return -1;
}

TCallRules::TCallRules(const TAlertRules& rules) : rules_(rules), trie_(1) {
    for (size_t i = 0; i < rules.Rules.size(); ++i) {
        const TAlertRule& rule = rules.Rules[i];
        switch (rule.Kind) {
            case TAlertKind::Cost:
                if (rules.Tariffs) costs_.push_back(i);
                break;
            case TAlertKind::Duration:
                durations_.push_back(i);
                break;
            case TAlertKind::Hours:
                hours_.push_back(i);
                break;
            case TAlertKind::Prefix:
                for (const std::string& prefix : rule.Prefixes) {
                    size_t node = 0;
                    for (const char c : prefix) {
                        const int slot = Slot(c);
                        if (slot < 0) break;  // the parser lets none through
                        if (trie_[node].Next[slot] < 0) {
                            trie_[node].Next[slot] = static_cast<int32_t>(trie_.size());
                            trie_.emplace_back();
                        }
                        node = static_cast<size_t>(trie_[node].Next[slot]);
                    }
                    std::vector<uint32_t>& here = trie_[node].Rules;
                    if (here.empty() || here.back() != i) here.push_back(static_cast<uint32_t>(i));
                }
                break;
            default:
                break;  // conditions: raised by the monitors
        }
    }
}

int64_t TCallRules::CostOf(const TExtStr_rep& call) const {
    return rules_.Tariffs ? RateCall(*rules_.Tariffs, call).Cost : 0;
}

void TCallRules::Evaluate(const TExtStr_rep& call, std::vector<size_t>& matched) const {
    const size_t first = matched.size();
    if (!costs_.empty() && !call.ExtNumber.empty()) {
        const int64_t cost = CostOf(call);
        for (const size_t i : costs_)
            if (cost >= rules_.Rules[i].Kopecks) matched.push_back(i);
    }
    for (const size_t i : durations_)
        if (call.DurTotalSec >= int64_t{rules_.Rules[i].Minutes} * 60) matched.push_back(i);
    if (!hours_.empty() && !call.ExtNumber.empty()) {
        const TRepStart start = SplitRepStart(call.StartTime);
        for (const size_t i : hours_)
            if (!rules_.Rules[i].Hours.Holds(start.Weekday, start.SecondOfDay / 60))
                matched.push_back(i);
    }
    if (trie_.size() > 1 && !call.ExtNumber.empty()) {
        const size_t before = matched.size();
        size_t node = 0;
        for (const char c : call.ExtNumber.view()) {
            const int slot = Slot(c);
            if (slot < 0 || trie_[node].Next[slot] < 0) break;
            node = static_cast<size_t>(trie_[node].Next[slot]);
            for (const uint32_t i : trie_[node].Rules)
                if (std::find(matched.begin() + static_cast<std::ptrdiff_t>(before), matched.end(),
                              i) == matched.end())
                    matched.push_back(i);
        }
    }
    std::sort(matched.begin() + static_cast<std::ptrdiff_t>(first), matched.end());
}
