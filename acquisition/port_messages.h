// What the operator is told about the exchange's port and identification.
#pragma once

#include <string>

#include "link/low_level.h"

inline constexpr char kNoExchangeText[] = "АТС не обнаружена.";
inline constexpr char kNoticeCaption[] = "Уведомление";
inline constexpr char kErrorCaption[] = "Ошибка!";
// A chosen call-log path that the settings file cannot hold.
inline constexpr char kUnstorablePathText[] =
    "Имя файла содержит перевод строки; такой файл нельзя выбрать для сохранения данных.";

// Opening the port and identifying the exchange behind it.
enum class [[nodiscard]] TOpenPortResult : int{
    Identified = 1,
    PortFailed = -1,  // the port could not be opened (or was open already)
    NoExchange = -2   // no exchange answered, or the device failed meanwhile
};

// "Ошибка при открытии СОМ-порта.", with a second line naming the dialout
// group when the opening was refused for lack of permission (EACCES, EPERM),
// or saying that the port is in use when another program holds it (EBUSY).
std::string PortOpenErrorText(const TPortError& openError);

// Tells the operator why an opening failed (nothing for Identified).
void ReportPortOpening(TOpenPortResult result, const TLowLevel& link);

// Identifies the exchange behind link's open port and tells the operator
// what identification found wrong: a buffer that holds more records than
// places (once per unit), and a refused unit, which ends the program (the
// result is then NoReply, should the end be deferred). A port error is
// told nothing here.
TIdentifyResult IdentifyAndReport(TLowLevel& link);
