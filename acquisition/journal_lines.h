// What the program tells its log as it goes (UTF-8, one line each): an
// unattended program's journal says what it reads from where, and when
// writing stops and resumes.
#pragma once

#include <cstddef>
#include <string>

#include "config/settings.h"
#include "link/exchange_model.h"

// Once the exchange is identified at start-up: the program, the exchange,
// the port (the program's name of it) and the device it leads to, the
// call-log file and what the program is going to do.
std::string StartLine(const std::string& program, const TIdentification& exchange,
                      const std::string& port, const std::string& device,
                      const std::string& callLog, TAutoStart action);
// A reading thread starts: continuously or one pass over the buffer.
std::string ReadingStartedLine(bool continuous);
// A read-all has ended having written calls lines.
std::string ReadAllEndedLine(size_t calls);
// A read-all has ended with lines waiting for the call-log file, having
// written calls lines.
std::string ReadAllHeldLine(size_t calls, size_t waiting);
// Why the call-log file at path could not be written, naming it: why is the
// writer's reason, which may name a file already (the call log or the state
// file kept beside it).
std::string CallLogFailure(const std::string& path, const std::string& why);
// Writing to the call-log file at path works again: lines that waited went
// to it.
std::string WritingResumedLine(const std::string& path, size_t lines);
// The exchange has not answered for minutes during continuous reading, on
// port (the program's name of it) leading to device.
std::string ExchangeSilentLine(const std::string& port, const std::string& device, long minutes);
// The port could not be opened again during continuous reading; why is the
// system's reason.
std::string PortReopenFailedLine(const std::string& port, const std::string& device,
                                 const std::string& why);
// A service manager's status while the exchange is out of reach: since
// (a local time) and, when the port would not open, why.
std::string OutageStatus(const std::string& since, const std::string& port,
                         const std::string& device, const std::string& why);
// It answers again after minutes of silence.
std::string ExchangeAnswersLine(const std::string& port, const std::string& device, long minutes);
