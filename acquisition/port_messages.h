// Message texts shared by the windows that open the exchange's port.
#pragma once

#include <string>

#include "low_level.h"

inline constexpr char kNoExchangeText[] = "АТС не обнаружена.";
inline constexpr char kNoticeCaption[] = "Уведомление";
inline constexpr char kErrorCaption[] = "Ошибка!";

// "Ошибка при открытии СОМ-порта.", with a second line naming the dialout
// group when the last opening of link's port was refused for lack of
// permission (EACCES, EPERM).
std::string PortOpenErrorText(const TLowLevel& link);
