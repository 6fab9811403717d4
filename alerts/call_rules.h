// The rules over calls (cost, duration, prefix, hours) made ready for
// evaluating every call line as it is written: the prefixes of all prefix
// rules in one trie, so that a thousand of them cost one walk along the
// dialled number.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "alerts/alert_rules.h"
#include "calllog/call_record.h"

class TCallRules {
  public:
    // Keeps rules (which must outlive it) and indexes their call rules.
    explicit TCallRules(const TAlertRules& rules);

    // Whether any rule looks at calls.
    bool Empty() const {
        return costs_.empty() && durations_.empty() && hours_.empty() && trie_.size() == 1;
    }
    // Appends to matched the indexes (into the rules) of the call rules
    // call matches, each once, in the order of the file.
    void Evaluate(const TExtStr_rep& call, std::vector<size_t>& matched) const;
    // The cost in kopecks of call by the rules' tariffs (0: none, or
    // incoming), as the bill rates it.
    int64_t CostOf(const TExtStr_rep& call) const;

  private:
    // Digits 0-9, "*", "#".
    static constexpr size_t kFanOut = 12;
    struct TNode {
        std::array<int32_t, kFanOut> Next;
        std::vector<uint32_t> Rules;  // rules with a prefix ending here
        TNode() { Next.fill(-1); }
    };
    static int Slot(char c);

    const TAlertRules& rules_;
    std::vector<size_t> costs_, durations_, hours_;
    std::vector<TNode> trie_;
};
