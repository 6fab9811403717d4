#include "billing/tariffs.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>
#include <utility>

#include "billing/csv_fields.h"

namespace {

// Field names as the messages show them, in the order of the fields.
constexpr const char* kFieldNames[] = {
    "префикс", "зона", "цена", "плата за соединение", "первый интервал", "шаг", "бесплатно",
    "дни",     "с",    "до"};
constexpr size_t kFields = sizeof kFieldNames / sizeof kFieldNames[0];
// What a header line may call each field.
constexpr const char* kHeaderNames[kFields] = {"префикс",
                                               "зона",
                                               "цена|цена минуты",
                                               "соединение|плата за соединение",
                                               "первый|первый интервал",
                                               "шаг",
                                               "бесплатно",
                                               "дни",
                                               "с",
                                               "до"};
// Whole roubles of a price: at most six digits, and seconds at most six
// digits, so that the costs of a million day-long calls at the dearest
// possible rate still add up inside 64 bits.
constexpr size_t kMaxMoneyDigits = 6;
constexpr int64_t kMaxSeconds = 999999;

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Quoted(std::string_view s) {
    return "«" + std::string(s) + "»";
}

// Money "12", "0,5", "1.2345" into ten-thousandths; an empty reason when good.
std::string ParseMoney(std::string_view s, int64_t& value) {
    const bool negative = !s.empty() && s[0] == '-';
    const std::string_view body = negative ? s.substr(1) : s;
    const size_t sep = body.find_first_of(".,");
    const std::string_view whole = body.substr(0, sep);
    const std::string_view frac =
        sep == std::string_view::npos ? std::string_view() : body.substr(sep + 1);
    const bool wholeOk = whole.empty() || AllDigits(whole);
    const bool fracOk = sep == std::string_view::npos ? !whole.empty() : AllDigits(frac);
    if (!wholeOk || !fracOk) return Quoted(s) + " — не число (пример: 1,25)";
    if (negative) return Quoted(s) + " — значение не может быть отрицательным";
    if (frac.size() > 4) return Quoted(s) + " — больше четырёх знаков после запятой";
    size_t lead = 0;
    while (lead + 1 < whole.size() && whole[lead] == '0')
        ++lead;
    if (whole.size() - lead > kMaxMoneyDigits) return Quoted(s) + " — слишком большое значение";
    int64_t v = 0;
    for (char c : whole)
        v = v * 10 + (c - '0');
    for (size_t k = 0; k < 4; ++k)
        v = v * 10 + (k < frac.size() ? frac[k] - '0' : 0);
    value = v;
    return {};
}

std::string ParseSeconds(std::string_view s, int least, int& value) {
    const bool negative = !s.empty() && s[0] == '-';
    if (!AllDigits(negative ? s.substr(1) : s)) return Quoted(s) + " — не целое число секунд";
    if (negative) return Quoted(s) + " — должно быть не меньше " + std::to_string(least);
    size_t lead = 0;
    while (lead + 1 < s.size() && s[lead] == '0')
        ++lead;
    int64_t v = 0;
    if (s.size() - lead > 6) return Quoted(s) + " — слишком большое значение";
    for (char c : s)
        v = v * 10 + (c - '0');
    if (v < least) return Quoted(s) + " — должно быть не меньше " + std::to_string(least);
    if (v > kMaxSeconds) return Quoted(s) + " — слишком большое значение";
    value = static_cast<int>(v);
    return {};
}

// "1-5", "6,7", "1,3-5": bit d - 1 for each weekday d.
std::string ParseDays(std::string_view s, uint8_t& days) {
    const std::string bad =
        Quoted(s) + " — дни недели задаются числами от 1 до 7, например 1-5, 6-7 или 1,3,5";
    uint8_t bits = 0;
    size_t pos = 0;
    for (;;) {
        const size_t comma = s.find(',', pos);
        std::string_view item =
            s.substr(pos, comma == std::string_view::npos ? s.npos : comma - pos);
        while (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
            item.remove_prefix(1);
        while (!item.empty() && (item.back() == ' ' || item.back() == '\t'))
            item.remove_suffix(1);
        int a = 0, b = 0;
        if (item.size() == 1) {
            a = b = item[0] - '0';
        } else if (item.size() == 3 && item[1] == '-') {
            a = item[0] - '0';
            b = item[2] - '0';
        } else {
            return bad;
        }
        if (a < 1 || a > 7 || b < 1 || b > 7) return bad;
        if (a > b) return Quoted(s) + " — в диапазоне дней первый день позже последнего";
        for (int d = a; d <= b; ++d)
            bits = static_cast<uint8_t>(bits | (1u << (d - 1)));
        if (comma == std::string_view::npos) break;
        pos = comma + 1;
    }
    days = bits;
    return {};
}

// "HH:MM" (the hour may be one digit) into seconds of the day.
std::string ParseTime(std::string_view s, int& seconds) {
    const size_t colon = s.find(':');
    const std::string_view h = s.substr(0, colon);
    const std::string_view m =
        colon == std::string_view::npos ? std::string_view() : s.substr(colon + 1);
    if (colon == std::string_view::npos || h.empty() || h.size() > 2 || !AllDigits(h) ||
        m.size() != 2 || !AllDigits(m))
        return Quoted(s) + " — время задаётся как ЧЧ:ММ, например 08:00";
    const int hh = h.size() == 1 ? h[0] - '0' : (h[0] - '0') * 10 + (h[1] - '0');
    const int mm = (m[0] - '0') * 10 + (m[1] - '0');
    if (hh > 23 || mm > 59) return Quoted(s) + " — такого времени нет (от 00:00 до 23:59)";
    seconds = hh * 3600 + mm * 60;
    return {};
}

// The rate of one record, or the reason it is refused and the field at fault.
std::string ParseRate(const TCsvRecord& rec, TRate& r, size_t& field) {
    const auto& f = rec.Fields;
    auto get = [&](size_t k) -> std::string_view {
        return k < f.size() ? f[k] : std::string_view();
    };
    if (f.size() > kFields) {
        field = kFields;
        return "в строке " + std::to_string(f.size()) + " полей, а их не больше десяти";
    }
    std::string why;
    field = 0;
    const std::string_view prefix = get(0);
    if (prefix.empty()) return "префикс не указан (цифры или «*» для всех номеров)";
    if (prefix != "*" && !AllDigits(prefix))
        return Quoted(prefix) + " — префикс состоит из цифр или это «*» для всех номеров";
    r.Prefix = prefix == "*" ? std::string() : std::string(prefix);
    field = 1;
    if (get(1).empty()) return "зона не указана";
    r.Zone = std::string(get(1));
    field = 2;
    if (get(2).empty()) return "цена минуты не указана";
    if (!(why = ParseMoney(get(2), r.Price)).empty()) return why;
    field = 3;
    if (!get(3).empty() && !(why = ParseMoney(get(3), r.Setup)).empty()) return why;
    field = 4;
    if (!get(4).empty() && !(why = ParseSeconds(get(4), 1, r.First)).empty()) return why;
    field = 5;
    if (!get(5).empty() && !(why = ParseSeconds(get(5), 1, r.Step)).empty()) return why;
    field = 6;
    if (!get(6).empty() && !(why = ParseSeconds(get(6), 0, r.Free)).empty()) return why;
    field = 7;
    if (!get(7).empty() && get(7) != "*" && !(why = ParseDays(get(7), r.Days)).empty()) return why;
    const std::string_view from = get(8), to = get(9);
    if (from.empty() != to.empty()) {
        field = from.empty() ? 8 : 9;
        return from.empty() ? "не указано, а время «до» указано: нужны оба или ни одного"
                            : "не указано, а время «с» указано: нужны оба или ни одного";
    }
    if (!from.empty()) {
        field = 8;
        if (!(why = ParseTime(from, r.From)).empty()) return why;
        field = 9;
        if (!(why = ParseTime(to, r.To)).empty()) return why;
    }
    return {};
}

}  // namespace

int64_t BilledSeconds(const TRate& rate, int64_t d) {
    if (d <= rate.Free) return 0;
    if (d <= rate.First) return rate.First;
    const int64_t rest = d - rate.First;
    return rate.First + (rest + rate.Step - 1) / rate.Step * rate.Step;
}

int64_t CostKopecks(const TRate& rate, int64_t billed) {
    if (billed <= 0) return 0;
    // In sixtieths of a ten-thousandth of a rouble; a kopeck is 6000 of them.
    const int64_t sixtieths = rate.Setup * 60 + rate.Price * billed;
    return (sixtieths + 3000) / 6000;
}

// A digit trie of the prefixes. Each node lists the rates of its prefix in
// the order they are tried (limited before unlimited, then by line); a call
// walks down its dialled digits and tries the deepest node's rates first.
struct TTariffs::TIndex {
    struct TNode {
        std::array<int32_t, 10> Child;
        int32_t Parent = -1;
        uint32_t Begin = 0, End = 0;  // range of Order
        TNode() { Child.fill(-1); }
    };
    std::vector<TNode> Nodes;
    std::vector<const TRate*> Order;
};

TTariffs::TTariffs() = default;
TTariffs::~TTariffs() = default;
TTariffs::TTariffs(TTariffs&&) noexcept = default;
TTariffs& TTariffs::operator=(TTariffs&&) noexcept = default;

TBillingResult TTariffs::Parse(std::string_view text) {
    std::vector<TCsvRecord> records;
    if (TBillingResult split = SplitCsv(text, records); !split.Ok()) return split;
    const size_t first =
        !records.empty() && IsHeaderRecord(records[0], kHeaderNames, kFields) ? 1 : 0;
    std::vector<TRate> rates;
    rates.reserve(records.size());
    std::vector<std::string> zones;
    std::unordered_map<std::string, int> zoneIndex;
    // The line of each prefix, days and hours: a later line with all three
    // the same would never apply, and a price changed by appending one
    // would be ignored without a word.
    std::unordered_map<std::string, int> lineOfLimits;
    for (size_t k = first; k < records.size(); ++k) {
        TRate r;
        size_t field = 0;
        std::string why = ParseRate(records[k], r, field);
        if (why.empty()) {
            const bool wholeDay = r.From == r.To;
            const std::string key = r.Prefix + '/' + std::to_string(r.Days) + '/' +
                                    std::to_string(wholeDay ? 0 : r.From) + '/' +
                                    std::to_string(wholeDay ? 0 : r.To);
            const auto [it, added] = lineOfLimits.emplace(key, records[k].Line);
            if (!added) {
                field = 0;
                why = Quoted(r.Prefix.empty() ? "*" : r.Prefix) +
                      " с теми же днями и часами уже в строке " + std::to_string(it->second) +
                      ", эта строка никогда не применится";
            }
        }
        if (!why.empty()) {
            const std::string name =
                field < kFields ? Quoted(kFieldNames[field]) : std::to_string(field + 1);
            return TBillingResult::Invalid("Строка " + std::to_string(records[k].Line) + ", поле " +
                                           name + ": " + why);
        }
        r.Line = records[k].Line;
        const auto [it, added] = zoneIndex.emplace(r.Zone, static_cast<int>(zones.size()));
        if (added) zones.push_back(r.Zone);
        r.ZoneIndex = it->second;
        rates.push_back(std::move(r));
    }
    if (rates.empty()) {
        return TBillingResult::Invalid("В файле нет ни одной строки тарифа");
    }

    auto index = std::make_unique<TIndex>();
    index->Nodes.emplace_back();
    std::vector<int32_t> nodeOf(rates.size());
    for (size_t k = 0; k < rates.size(); ++k) {
        int32_t node = 0;
        for (char c : rates[k].Prefix) {
            int32_t next = index->Nodes[node].Child[c - '0'];
            if (next < 0) {
                next = static_cast<int32_t>(index->Nodes.size());
                index->Nodes[node].Child[c - '0'] = next;
                index->Nodes.emplace_back();
                index->Nodes.back().Parent = node;
            }
            node = next;
        }
        nodeOf[k] = node;
    }
    // Nodes numbered level by level: the short prefixes every call passes
    // through then lie together in a few cache lines.
    std::vector<TIndex::TNode>& built = index->Nodes;
    std::vector<int32_t> renumber(built.size(), 0);
    std::vector<int32_t> queue{0};
    for (size_t q = 0; q < queue.size(); ++q) {
        for (int32_t child : built[queue[q]].Child) {
            if (child < 0) continue;
            renumber[child] = static_cast<int32_t>(queue.size());
            queue.push_back(child);
        }
    }
    std::vector<TIndex::TNode> nodes(built.size());
    for (size_t k = 0; k < built.size(); ++k) {
        TIndex::TNode& n = nodes[renumber[k]];
        n = built[k];
        if (n.Parent >= 0) n.Parent = renumber[n.Parent];
        for (int32_t& child : n.Child)
            if (child >= 0) child = renumber[child];
    }
    built = std::move(nodes);
    for (int32_t& node : nodeOf)
        node = renumber[node];
    // Rates grouped by node, each group in the order of trial.
    std::vector<uint32_t> order(rates.size());
    for (uint32_t k = 0; k < order.size(); ++k)
        order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (nodeOf[a] != nodeOf[b]) return nodeOf[a] < nodeOf[b];
        return rates[a].Limited() && !rates[b].Limited();
    });
    rates_ = std::move(rates);
    zones_ = std::move(zones);
    index->Order.resize(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
        index->Order[k] = &rates_[order[k]];
        TIndex::TNode& node = index->Nodes[nodeOf[order[k]]];
        if (node.Begin == node.End) node.Begin = static_cast<uint32_t>(k);
        node.End = static_cast<uint32_t>(k + 1);
    }
    index_ = std::move(index);
    return {};
}

TBillingResult TTariffs::Load(const std::string& path) {
    std::string text;
    if (TBillingResult read = ReadTableFile(path, text); !read.Ok()) return read;
    return Parse(text);
}

const TRate* TTariffs::RateFor(std::string_view dialled, int weekday, int secondOfDay) const {
    if (!index_ || weekday < 1 || weekday > 7) return nullptr;
    const std::vector<TIndex::TNode>& nodes = index_->Nodes;
    int32_t node = 0;
    for (char c : dialled) {
        if (c < '0' || c > '9') break;
        const int32_t next = nodes[node].Child[c - '0'];
        if (next < 0) break;
        node = next;
    }
    const unsigned dayBit = 1u << (weekday - 1);
    for (; node >= 0; node = nodes[node].Parent) {
        for (uint32_t k = nodes[node].Begin; k < nodes[node].End; ++k) {
            const TRate* r = index_->Order[k];
            if (!(r->Days & dayBit)) continue;
            if (r->From < r->To) {
                if (secondOfDay < r->From || secondOfDay >= r->To) continue;
            } else if (r->From > r->To) {
                if (secondOfDay < r->From && secondOfDay >= r->To) continue;
            }
            return r;
        }
    }
    return nullptr;
}
