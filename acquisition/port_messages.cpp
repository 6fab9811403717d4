#include "acquisition/port_messages.h"

#include <cerrno>

#include "base/message_seam.h"
#include "link/serial_devices.h"

std::string PortOpenErrorText(const TPortError& openError) {
    std::string text = "Ошибка при открытии СОМ-порта.";
    const uint32_t err = openError.SystemError;
    if (err == EACCES || err == EPERM)
        text += "\nДля работы с СОМ-портом пользователь должен входить в группу dialout.";
    if (err == EBUSY) text += "\nСОМ-порт занят другой программой.";
    return text;
}

void ReportPortOpening(TOpenPortResult result, const TLowLevel& link) {
    switch (result) {
        case TOpenPortResult::Identified:
            break;
        case TOpenPortResult::PortFailed: {
            std::string text = PortOpenErrorText(link.LastOpenError());
            const uint32_t err = link.LastOpenError().SystemError;
            // Refused: say whose device it is rather than guess the group.
            if (err == EACCES || err == EPERM) {
                const std::string owner = DeviceGroupText(
                    PortDeviceOf(link.Settings.PortName, link.Settings.StartDir).Device);
                if (!owner.empty()) text = "Ошибка при открытии СОМ-порта.\n" + owner;
            }
            // A COMn link of the start-up directory that leads nowhere:
            // say where it points.
            if (link.LastOpenError().SystemError == ENOENT) {
                const TPortDevice p = PortDeviceOf(link.Settings.PortName, link.Settings.StartDir);
                if (p.Link && !p.Exists)
                    text += "\n" + link.Settings.PortName + " в каталоге запуска указывает на " +
                            p.Device + ", которого нет.";
            }
            seam::ShowMessage(text, kErrorCaption);
            break;
        }
        case TOpenPortResult::NoExchange:
            seam::ShowMessage(kNoExchangeText, kNoticeCaption);
            break;
    }
}

TIdentifyResult IdentifyAndReport(TLowLevel& link) {
    const TIdentifyResult r = link.IdentifyExchange();
    for (int i = 0; i < link.Identification().InconsistentBufferReports; ++i)
        seam::ShowMessage("Неверная информация в буфере тарификации", "Ошибка");
    if (r == TIdentifyResult::UnitRefused) {
        seam::ShowMessage("Невозможно установить активную АТС(1)", "");
        seam::ExitProgram(0);
        return TIdentifyResult::NoReply;
    }
    return r;
}
