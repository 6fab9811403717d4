#include "billing/directory.h"

#include <utility>

#include "billing/csv_fields.h"

namespace {

// What a header line may call each field.
constexpr const char* kHeaderNames[] = {"номер|абонент", "имя|фио", "отдел"};

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

}  // namespace

TBillingResult TDirectory::Parse(std::string_view text) {
    std::vector<TCsvRecord> records;
    if (TBillingResult split = SplitCsv(text, records); !split.Ok()) return split;
    const size_t first = !records.empty() && IsHeaderRecord(records[0], kHeaderNames, 3) ? 1 : 0;
    std::unordered_map<std::string, TSubscriberEntry> entries;
    std::unordered_map<std::string, int> lineOf;
    for (size_t k = first; k < records.size(); ++k) {
        std::vector<std::string>& f = records[k].Fields;
        const std::string at = "Строка " + std::to_string(records[k].Line) + ", поле ";
        if (f.size() > 3) {
            return TBillingResult::Invalid(at + "4: в строке " + std::to_string(f.size()) +
                                           " полей, а их три: номер, имя, отдел");
        }
        if (f[0].empty()) {
            return TBillingResult::Invalid(at + "«номер»: номер абонента не указан");
        }
        const auto [it, added] = lineOf.emplace(f[0], records[k].Line);
        if (!added) {
            return TBillingResult::Invalid(at + "«номер»: номер «" + f[0] +
                                           "» уже указан в строке " + std::to_string(it->second));
        }
        TSubscriberEntry e;
        if (f.size() > 1) e.Name = std::move(f[1]);
        if (f.size() > 2) e.Department = std::move(f[2]);
        entries.emplace(std::move(f[0]), std::move(e));
    }
    entries_ = std::move(entries);
    return {};
}

TBillingResult TDirectory::Load(const std::string& path) {
    std::string text;
    if (TBillingResult read = ReadTableFile(path, text); !read.Ok()) return read;
    return Parse(text);
}

const TSubscriberEntry* TDirectory::Find(std::string_view number) const {
    const auto it = entries_.find(std::string(number));
    return it == entries_.end() ? nullptr : &it->second;
}

std::string BilledSubscriber(std::string_view prgLine, std::string_view hwLine) {
    prgLine = Trimmed(prgLine);
    if (!prgLine.empty()) return std::string(prgLine);
    return "АЛ" + std::string(Trimmed(hwLine));
}
