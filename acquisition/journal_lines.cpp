#include "acquisition/journal_lines.h"

#include "base/cp1251.h"

namespace {

std::string Trimmed(std::string text) {
    const size_t end = text.find_last_not_of(' ');
    text.erase(end == std::string::npos ? 0 : end + 1);
    const size_t begin = text.find_first_not_of(' ');
    return begin == std::string::npos ? std::string() : text.substr(begin);
}

std::string Where(const std::string& port, const std::string& device) {
    return "(порт " + port + (device.empty() || device == port ? "" : ", устройство " + device) +
           ")";
}

}  // namespace

std::string StartLine(const std::string& program, const TIdentification& exchange,
                      const std::string& port, const std::string& device,
                      const std::string& callLog, TAutoStart action) {
    std::string mode;
    switch (action) {
        case TAutoStart::Nothing:
            mode = "ожидание команд";
            break;
        case TAutoStart::ReadUninterrupt:
            mode = "непрерывное считывание";
            break;
        case TAutoStart::ReadAllAndExit:
            mode = "считывание всего буфера и выход";
            break;
    }
    return program + ": АТС " + exchange.ModelName + " \"" +
           Trimmed(Cp1251ToUtf8(exchange.ExchangeName)) + "\", серийный номер " +
           exchange.SerialNumber + " " + Where(port, device) + ", файл звонков " +
           (callLog.empty() ? std::string("не выбран") : "\"" + callLog + "\"") +
           ", режим: " + mode;
}

std::string ReadingStartedLine(bool continuous) {
    return continuous ? "Начато непрерывное считывание" : "Начато считывание всего буфера";
}

std::string ReadAllEndedLine(size_t calls) {
    return "Считывание буфера закончено, записано звонков: " + std::to_string(calls);
}

std::string ReadAllHeldLine(size_t calls, size_t waiting) {
    return "Считывание буфера прервано: файл звонков не принял строк: " + std::to_string(waiting) +
           ", записано звонков: " + std::to_string(calls) + "; остальные записи остаются в АТС";
}

std::string CallLogFailure(const std::string& path, const std::string& why) {
    if (path.empty() || why.find('"') != std::string::npos) return why;
    return "\"" + path + "\": " + why;
}

std::string WritingResumedLine(const std::string& path, size_t lines) {
    return "Запись в файл звонков \"" + path +
           "\" возобновлена, записано ожидавших строк: " + std::to_string(lines);
}

std::string ExchangeSilentLine(const std::string& port, const std::string& device, long minutes) {
    return "АТС не отвечает " + std::to_string(minutes) + " мин " + Where(port, device);
}

std::string ExchangeAnswersLine(const std::string& port, const std::string& device, long minutes) {
    return "АТС снова отвечает " + Where(port, device) + ", не отвечала " +
           std::to_string(minutes) + " мин";
}

std::string PortReopenFailedLine(const std::string& port, const std::string& device,
                                 const std::string& why) {
    return "СОМ-порт не открывается " + Where(port, device) + ": " + why;
}

std::string OutageStatus(const std::string& since, const std::string& port,
                         const std::string& device, const std::string& why) {
    return "Нет связи с АТС с " + since + " " + Where(port, device) +
           (why.empty() ? "" : ": " + why);
}
