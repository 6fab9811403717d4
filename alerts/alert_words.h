// The words people read about an alert: its kind's title in Russian, for
// the desktop's notification and the web view.
#pragma once

#include <optional>
#include <string_view>

#include "alerts/alert.h"

// "Дорогой звонок", "Буфер АТС заполняется", …: what happened, as a
// heading.
const char* AlertKindTitle(TAlertKind kind);

// The kind AlertKindName calls name ("cost", …); nullopt for any other.
std::optional<TAlertKind> AlertKindByName(std::string_view name);
