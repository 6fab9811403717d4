// The subscriber directory: names and departments of the programmed
// subscriber numbers, from a CSV file "number;name;department".
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

struct TSubscriberEntry {
    std::string Name;
    std::string Department;
};

class TDirectory {
  public:
    // Reads the text of a directory file (an optional header line of the
    // names "номер" or "абонент", "имя" or "ФИО", "отдел", in any case).
    // True: the directory is replaced.
    // False: it stays as it was, and error names the line and the field.
    bool Parse(std::string_view text, std::string& error);
    bool Load(const std::string& path, std::string& error);

    bool Empty() const { return entries_.empty(); }
    // The entry of a subscriber number, nullptr when there is none.
    const TSubscriberEntry* Find(std::string_view number) const;

  private:
    std::unordered_map<std::string, TSubscriberEntry> entries_;
};

// Who a call is billed to: its programmed number, or "АЛ" followed by its
// hardware number when the line has no programmed number (e.g. "АЛ9").
std::string BilledSubscriber(std::string_view prgLine, std::string_view hwLine);
