#include "reports/directory.h"

#include <utility>

#include "reports/csv_fields.h"

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

bool TDirectory::Parse(std::string_view text, std::string& error) {
    std::vector<TCsvRecord> records;
    if (!SplitCsv(text, records, error)) return false;
    const size_t first = !records.empty() && IsHeaderRecord(records[0], kHeaderNames, 3) ? 1 : 0;
    std::unordered_map<std::string, TSubscriberEntry> entries;
    std::unordered_map<std::string, int> lineOf;
    for (size_t k = first; k < records.size(); ++k) {
        std::vector<std::string>& f = records[k].Fields;
        const std::string at = "Строка " + std::to_string(records[k].Line) + ", поле ";
        if (f.size() > 3) {
            error = at + "4: в строке " + std::to_string(f.size()) +
                    " полей, а их три: номер, имя, отдел";
            return false;
        }
        if (f[0].empty()) {
            error = at + "«номер»: номер абонента не указан";
            return false;
        }
        const auto [it, added] = lineOf.emplace(f[0], records[k].Line);
        if (!added) {
            error = at + "«номер»: номер «" + f[0] + "» уже указан в строке " +
                    std::to_string(it->second);
            return false;
        }
        TSubscriberEntry e;
        if (f.size() > 1) e.Name = std::move(f[1]);
        if (f.size() > 2) e.Department = std::move(f[2]);
        entries.emplace(std::move(f[0]), std::move(e));
    }
    entries_ = std::move(entries);
    return true;
}

bool TDirectory::Load(const std::string& path, std::string& error) {
    std::string text;
    return ReadTableFile(path, text, error) && Parse(text, error);
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
