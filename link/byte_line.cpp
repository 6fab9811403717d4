#include "link/byte_line.h"

#include <cstring>
#include <thread>

#include "link/comm_error.h"

ECommError::ECommError(uint8_t code, uint32_t systemError)
    : std::runtime_error("Ошибка СОМ-порта " + std::to_string(code) + ": " +
                         std::strerror(static_cast<int>(systemError))),
      Code(code),
      SystemError(systemError) {}

void IByteLine::Open(const std::string&, const std::string&) {}

int ReadByteWait(IByteLine& line, IClock& clock, int firstTimeoutMs, int ms) {
    int r = line.ReadWithin(firstTimeoutMs);
    if (r >= 0) return r;
    const auto deadline = clock.Now() + std::chrono::milliseconds(ms);
    do {
        r = line.ReadWithin(firstTimeoutMs);
    } while (r < 0 && clock.Now() <= deadline);
    return r;
}

IClock::TTimePoint TSteadyClock::Now() {
    return std::chrono::steady_clock::now();
}

void TSteadyClock::Sleep(std::chrono::milliseconds ms) {
    std::this_thread::sleep_for(ms);
}

TSteadyClock& TSteadyClock::Instance() {
    static TSteadyClock clock;
    return clock;
}
