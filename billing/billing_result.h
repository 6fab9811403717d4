// How a loader of billing ended. Every one of them (the tariff table, the
// subscriber directory and the CSV beneath both) returns a TBillingResult:
// the outcome, an enum class that callers switch over without a default,
// and beside it the message for the user and, where a file operation
// failed, its errno, as libserialport returns an sp_return and keeps the
// error for sp_last_error_code(). What a loader fills stays as it was
// unless the outcome is Loaded.
#pragma once

#include <string>

enum class TBillingOutcome {
    Loaded,
    CannotRead,  // the file could not be opened or read (Errno), or is broken UTF-16
    Invalid,     // a line or field is wrong, or the table holds no rate
};

struct [[nodiscard]] TBillingResult {
    TBillingOutcome Outcome = TBillingOutcome::Loaded;
    // Why, in Russian, naming the file or the line and the field ("Строка 5,
    // поле «цена»: ..."); empty when loaded.
    std::string Message;
    // errno of the file operation that failed; 0 for any other outcome.
    int Errno = 0;

    bool Ok() const { return Outcome == TBillingOutcome::Loaded; }
    static TBillingResult Invalid(std::string message) {
        return {TBillingOutcome::Invalid, std::move(message), 0};
    }
};
