#include "alerts/alert_rules.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

#include "alerts/alert_words.h"
#include "billing/csv_fields.h"

namespace {

constexpr const char* kFieldNames[] = {"вид", "параметр", "доставка"};

std::string Quoted(std::string_view s) {
    return "«" + std::string(s) + "»";
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = text.find_first_not_of(" \t", pos);
        if (start == std::string_view::npos) break;
        size_t end = text.find_first_of(" \t", start);
        if (end == std::string_view::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        pos = end;
    }
    return words;
}

// A whole number of 1 .. max written in digits only; false otherwise.
bool ParseCount(std::string_view text, int64_t max, int64_t& value) {
    if (text.empty() || text.size() > 12) return false;
    value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= max;
}

// The reason the parameter of kind is wrong, else empty (rule filled).
std::string ReadParameter(std::string_view text, TAlertRule& rule) {
    int64_t n = 0;
    switch (rule.Kind) {
        case TAlertKind::Cost:
            return ParseRoubles(text, rule.Kopecks)
                       ? ""
                       : "сумма в рублях больше нуля, например «500,00», а не " + Quoted(text);
        case TAlertKind::Duration:
        case TAlertKind::Live:
        case TAlertKind::Silent:
            if (!ParseCount(text, 100000, n))
                return "целое число минут от 1 до 100000, а не " + Quoted(text);
            rule.Minutes = static_cast<int>(n);
            return "";
        case TAlertKind::Buffer:
            if (!ParseCount(text, 100, n))
                return "процент заполнения буфера от 1 до 100, а не " + Quoted(text);
            rule.Percent = static_cast<int>(n);
            return "";
        case TAlertKind::Prefix:
            for (const std::string_view word : Words(text)) {
                for (const char c : word)
                    if (!(c >= '0' && c <= '9') && c != '*' && c != '#')
                        return "префикс из цифр, «*» и «#», а не " + Quoted(word);
                rule.Prefixes.emplace_back(word);
            }
            return rule.Prefixes.empty() ? "нужен хотя бы один префикс набранного номера" : "";
        case TAlertKind::Hours: {
            const std::string why = ParseWorkHours(text, rule.Hours);
            return why.empty() ? "" : why;
        }
        case TAlertKind::Held:
            return text.empty() ? "" : "у правила held нет параметра, а не " + Quoted(text);
        case TAlertKind::Db: {
            const std::vector<std::string_view> words = Words(text);
            if (words.size() == 1 && ParseCount(words[0], 100000000, n)) {
                rule.DbCalls = n;
                return "";
            }
            if (words.size() == 2 && words[1] == "мин" && ParseCount(words[0], 100000, n)) {
                rule.Minutes = static_cast<int>(n);
                return "";
            }
            return "число звонков («500») или минут («30 мин»), на которое база данных отстаёт, а "
                   "не " +
                   Quoted(text);
        }
    }
    return "неизвестный вид";
}

// The reason the delivery is wrong, else empty (delivery filled).
std::string ReadDelivery(std::string_view text, TAlertDelivery& delivery) {
    for (const std::string_view word : Words(text)) {
        if (word == "journal") continue;
        if (word == "desktop") {
            delivery.Desktop = true;
        } else if (word == "db") {
            delivery.Db = true;
        } else if (word.substr(0, 5) == "mail:") {
            const std::string_view address = word.substr(5);
            const size_t at = address.find('@');
            if (at == 0 || at == std::string_view::npos || at + 1 == address.size() ||
                address.find_first_of("<>,;\"()\\", 0) != std::string_view::npos)
                return "адрес почты вида «mail:admin@example.ru», а не " + Quoted(word);
            for (const char c : address)
                if (static_cast<unsigned char>(c) < 0x21)
                    return "адрес почты вида «mail:admin@example.ru», а не " + Quoted(word);
            delivery.Mail.emplace_back(address);
        } else {
            return "journal, desktop, db или mail:АДРЕС через пробел, а не " + Quoted(word);
        }
    }
    return "";
}

}  // namespace

bool ParseRoubles(std::string_view text, int64_t& kopecks) {
    const size_t sep = text.find_first_of(",.");
    const std::string_view whole = text.substr(0, sep);
    const std::string_view fraction = sep == std::string_view::npos ? "" : text.substr(sep + 1);
    if (whole.empty() || whole.size() > 10 || fraction.size() > 2 ||
        (sep != std::string_view::npos && fraction.empty()))
        return false;
    int64_t value = 0;
    for (const char c : whole) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    int64_t cents = 0;
    for (size_t i = 0; i < 2; ++i) {
        const char c = i < fraction.size() ? fraction[i] : '0';
        if (c < '0' || c > '9') return false;
        cents = cents * 10 + (c - '0');
    }
    kopecks = value * 100 + cents;
    return kopecks > 0;
}

std::string RoublesText(int64_t kopecks) {
    std::string cents = std::to_string(kopecks % 100);
    if (cents.size() < 2) cents.insert(0, "0");
    return std::to_string(kopecks / 100) + "," + cents;
}

TAlertRulesResult ParseAlertRules(std::string_view text, const std::string& name,
                                  TAlertRules& rules) {
    std::vector<TCsvRecord> records;
    const TBillingResult split = SplitCsv(text, records);
    if (!split.Ok()) return {TAlertRulesOutcome::Invalid, Quoted(name) + ": " + split.Message, 0};
    TAlertRules read;
    const auto invalid = [&name](int line, size_t field, const std::string& why) {
        return TAlertRulesResult{TAlertRulesOutcome::Invalid,
                                 Quoted(name) + ": Строка " + std::to_string(line) + ", поле " +
                                     Quoted(kFieldNames[field]) + ": " + why,
                                 0};
    };
    bool cost = false;
    int costLine = 0;
    for (const TCsvRecord& rec : records) {
        const std::string& first = rec.Fields[0];
        if (!first.empty() && first[0] == '#') continue;  // a comment
        const size_t equals = first.find('=');
        if (equals != std::string::npos) {
            const std::string setting = first.substr(0, equals);
            if (setting != "TARIFFS" && setting != "SENDMAIL")
                return invalid(
                    rec.Line, 0,
                    "известны только строки TARIFFS= и SENDMAIL=, а не " + Quoted(first));
            if (rec.Fields.size() > 1)
                return invalid(rec.Line, 0,
                               "в строке " + setting + "= после пути не должно быть «;»");
            const std::string value = first.substr(equals + 1);
            if (value.empty()) return invalid(rec.Line, 0, "не указан путь к файлу");
            (setting == "TARIFFS" ? read.TariffsPath : read.Sendmail) = value;
            continue;
        }
        TAlertRule rule;
        rule.Line = rec.Line;
        const std::optional<TAlertKind> kind = AlertKindByName(first);
        if (kind) rule.Kind = *kind;
        if (!kind)
            return invalid(
                rec.Line, 0,
                "cost, duration, prefix, hours, live, buffer, silent, held или db, а не " +
                    Quoted(first));
        if (rec.Fields.size() > 3)
            return invalid(rec.Line, 2, "лишнее поле: правило — это ВИД;ПАРАМЕТР;ДОСТАВКА");
        rule.Parameter = rec.Fields.size() > 1 ? rec.Fields[1] : "";
        if (std::string why = ReadParameter(rule.Parameter, rule); !why.empty())
            return invalid(rec.Line, 1, why);
        if (rec.Fields.size() > 2)
            if (std::string why = ReadDelivery(rec.Fields[2], rule.Delivery); !why.empty())
                return invalid(rec.Line, 2, why);
        if (rule.Kind == TAlertKind::Cost && !cost) {
            cost = true;
            costLine = rec.Line;
        }
        read.Rules.push_back(std::move(rule));
    }
    if (cost && read.TariffsPath.empty())
        return invalid(costLine, 0,
                       "для правила cost нужна строка TARIFFS= с путём к файлу тарифов");
    rules = std::move(read);
    return {};
}

TAlertRulesResult LoadAlertRules(const std::string& path, TAlertRules& rules) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 && errno == ENOENT) {
        rules = TAlertRules();
        return {TAlertRulesOutcome::NoFile, "", 0};
    }
    std::string text;
    if (const TBillingResult read = ReadTableFile(path, text); !read.Ok())
        return {TAlertRulesOutcome::CannotRead, read.Message, read.Errno};
    TAlertRules read;
    if (TAlertRulesResult parsed = ParseAlertRules(text, path, read); !parsed.Ok()) return parsed;
    if (!read.TariffsPath.empty()) {
        std::string tariffsPath = read.TariffsPath;
        if (tariffsPath[0] != '/') {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos) tariffsPath.insert(0, path.substr(0, slash + 1));
        }
        auto tariffs = std::make_shared<TTariffs>();
        const TBillingResult loaded = tariffs->Load(tariffsPath);
        if (!loaded.Ok())
            return {loaded.Outcome == TBillingOutcome::CannotRead ? TAlertRulesOutcome::CannotRead
                                                                  : TAlertRulesOutcome::Invalid,
                    Quoted(path) + ", файл тарифов " + Quoted(tariffsPath) + ": " + loaded.Message,
                    loaded.Errno};
        read.TariffsPath = tariffsPath;
        read.Tariffs = std::move(tariffs);
    }
    rules = std::move(read);
    return {};
}
