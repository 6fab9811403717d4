// The failure of a port operation. Only the devices and the exchange-link
// context (link/) see it: above them every operation returns a result.
#pragma once

#include <cstdint>
#include <stdexcept>

// Raised by every failure of a device. Code says which operation failed,
// SystemError holds errno at the moment of the failure; what() says both,
// the reason in the system's language.
struct ECommError : std::runtime_error {
    uint8_t Code;
    uint32_t SystemError;
    ECommError(uint8_t code, uint32_t systemError);
};

// Failure codes carried by ECommError.
enum : uint8_t {
    kErrSetBaudRate = 1,
    kErrSetStopBits = 3,
    kErrSetParity = 4,
    kErrSetByteSize = 5,
    kErrSetPortName = 6,
    kErrNotOpen = 7,
    kErrOpen = 8,
    kErrWrite = 9,
    kErrRead = 10,
    kErrClose = 11,
    kErrPurge = 12,
    kErrFlush = 13,
    kErrGetState = 14,
    kErrSetState = 15,
};
