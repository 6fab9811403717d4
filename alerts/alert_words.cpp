#include "alerts/alert_words.h"

namespace {

constexpr TAlertKind kKinds[] = {
    TAlertKind::Cost,   TAlertKind::Duration, TAlertKind::Prefix,
    TAlertKind::Hours,  TAlertKind::Live,     TAlertKind::Buffer,
    TAlertKind::Silent, TAlertKind::Held,     TAlertKind::Db,
};

}  // namespace

const char* AlertKindTitle(TAlertKind kind) {
    switch (kind) {
        case TAlertKind::Cost:
            return "Дорогой звонок";
        case TAlertKind::Duration:
            return "Долгий звонок";
        case TAlertKind::Prefix:
            return "Звонок на отмеченное направление";
        case TAlertKind::Hours:
            return "Звонок в нерабочее время";
        case TAlertKind::Live:
            return "Затянувшийся разговор";
        case TAlertKind::Buffer:
            return "Буфер АТС заполняется";
        case TAlertKind::Silent:
            return "АТС не отвечает";
        case TAlertKind::Held:
            return "Чтение АТС остановлено";
        case TAlertKind::Db:
            return "База данных отстаёт";
    }
    return "Тревога";
}

std::optional<TAlertKind> AlertKindByName(std::string_view name) {
    for (const TAlertKind kind : kKinds)
        if (name == AlertKindName(kind)) return kind;
    return std::nullopt;
}
