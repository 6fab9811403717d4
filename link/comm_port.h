// Serial port to the exchange: termios device at 19200 baud 8N2, DTR on,
// RTS off, byte-at-a-time reads with millisecond time-outs.
#pragma once

#include <cstdint>
#include <string>

#include "link/byte_line.h"
#include "link/comm_error.h"

// Win32-style codes kept by the line settings.
enum : uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2 };
enum : uint8_t { kOneStopBit = 0, kOne5StopBits = 1, kTwoStopBits = 2 };

// Time-outs of one read or write, in milliseconds.
struct TCommTimeouts {
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Line settings as stored (applied to the device while open).
struct TLineSettings {
    uint32_t BaudRate = 9600;
    uint8_t ByteSize = 8;
    uint8_t Parity = kNoParity;
    uint8_t StopBits = kOneStopBit;
};

// Resolves a port name to the device path that is opened: an entry of that
// exact name in startDir (normally a symbolic link) wins; otherwise "COMn"
// with n from 1 up gives /dev/ttyS<n-1>; any other name is used as it is.
std::string ResolvePortDevice(const std::string& name, const std::string& startDir);

class TCommPort : public IByteLine {
  public:
    TCommPort();
    ~TCommPort() override;
    TCommPort(const TCommPort&) = delete;
    TCommPort& operator=(const TCommPort&) = delete;

    // Opens and configures the device for name (see ResolvePortDevice, with
    // the directory given to SetStartDir, default the current directory).
    // Does nothing when already open. Raises 8 (cannot open), 14, 15, 17;
    // a failed Open always leaves the port closed.
    void Open(const std::string& name);
    // Open with name first looked up in startDir.
    void Open(const std::string& name, const std::string& startDir) override;
    // Closes the device; nothing when closed. Raises 11 and stays open when
    // close() fails.
    void Close() override;

    // Stores the name; raises 6 while open.
    void SetPortName(const std::string& name);
    // Store a line value; while open also apply it, restoring the old value
    // and raising 1 / 5 / 4 / 3 when the device refuses it.
    void SetBaudRate(uint32_t baud);
    void SetByteSize(uint8_t bits);
    void SetParity(uint8_t parity);
    void SetStopBits(uint8_t stopBits);

    // Drops everything in the receive queue. Raises 7 closed, 12 on failure.
    void PurgeInput() override;
    // Returns when everything written has left the driver. Raises 7, 13.
    void Flush() override;
    // Writes one byte. Raises 7 closed, 9 on failure, when the device has
    // gone, or when the driver found no room for it within the write
    // time-out (ETIMEDOUT): a byte given up is never taken for sent.
    void WriteByte(uint8_t b) override;
    // One byte 0..255 that arrives within timeoutMs, or -1. Raises 7
    // closed, 10 on failure or a vanished device.
    int ReadWithin(int timeoutMs) override;

    bool IsOpen() const override { return open_; }
    // True once a read or write found the device gone (unplugged adapter,
    // ended simulator); only closing and opening again can help then.
    bool Lost() const override { return lost_; }
    const std::string& PortName() const { return portName_; }
    const TLineSettings& LineSettings() const { return dcb_; }
    const TCommTimeouts& Timeouts() const { return timeouts_; }
    // Directory in which a port name is first looked up as an entry.
    void SetStartDir(const std::string& dir) { startDir_ = dir; }
    // The device path actually opened (empty while closed).
    const std::string& DevicePath() const { return devicePath_; }

  private:
    bool ApplyLineSettings();

    bool open_ = false;
    bool lost_ = false;
    TCommTimeouts timeouts_;
    std::string portName_ = "COM1";
    TLineSettings dcb_;
    int fd_ = -1;
    std::string startDir_;
    std::string devicePath_;
};
