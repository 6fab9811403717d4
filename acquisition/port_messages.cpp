#include "port_messages.h"

#include <cerrno>

std::string PortOpenErrorText(const TLowLevel& link) {
    std::string text = "Ошибка при открытии СОМ-порта.";
    const uint32_t err = link.LastOpenError.SystemError;
    if (err == EACCES || err == EPERM)
        text += "\nДля работы с СОМ-портом пользователь должен входить в группу dialout.";
    return text;
}
