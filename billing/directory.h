// The subscriber directory: names and departments of the programmed
// subscriber numbers, from a CSV file "number;name;department".
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "billing/billing_result.h"

struct TSubscriberEntry {
    std::string Name;
    std::string Department;
};

class TDirectory {
  public:
    // Reads the text of a directory file (an optional header line of the
    // names "номер" or "абонент", "имя" or "ФИО", "отдел", in any case).
    // Loaded: the directory is replaced. Invalid: it stays as it was, and
    // the message names the line and the field.
    TBillingResult Parse(std::string_view text);
    // The same for a file; one that cannot be read is CannotRead.
    TBillingResult Load(const std::string& path);

    bool Empty() const { return entries_.empty(); }
    // The entry of a subscriber number, nullptr when there is none.
    const TSubscriberEntry* Find(std::string_view number) const;

  private:
    std::unordered_map<std::string, TSubscriberEntry> entries_;
};

// Who a call is billed to: its programmed number, or "АЛ" followed by its
// hardware number when the line has no programmed number (e.g. "АЛ9").
std::string BilledSubscriber(std::string_view prgLine, std::string_view hwLine);
