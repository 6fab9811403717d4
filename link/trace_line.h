// A trace of the device seam: every byte sent and received, every read
// that found nothing, purge, flush, open and close, each with a monotonic
// time stamp, for the day a real exchange does what the simulated one does
// not. Only a program asked to trace puts it between the protocol and the
// port; without it nothing is traced and nothing costs.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "link/byte_line.h"

class TTraceLine : public IByteLine {
  public:
    // Traces inner into out (which it closes at its end), time stamps in
    // seconds from now on clock.
    TTraceLine(std::shared_ptr<IByteLine> inner, std::FILE* out, std::shared_ptr<IClock> clock);
    ~TTraceLine() override;
    TTraceLine(const TTraceLine&) = delete;
    TTraceLine& operator=(const TTraceLine&) = delete;

    void Open(const std::string& name, const std::string& startDir) override;
    void Close() override;
    bool IsOpen() const override { return inner_->IsOpen(); }
    bool Lost() const override { return inner_->Lost(); }
    int ReadWithin(int timeoutMs) override;
    void WriteByte(uint8_t b) override;
    void PurgeInput() override;
    void Flush() override;

  private:
    // One line: the time stamp, then what.
    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Runs op, tracing a failure it raises (its code) before passing it on.
    template <typename Op>
    auto Traced(const char* what, Op op) -> decltype(op());

    std::shared_ptr<IByteLine> inner_;
    std::FILE* out_;
    std::shared_ptr<IClock> clock_;
    IClock::TTimePoint start_;
};

// Opens path for a trace: appended to, created when absent (0644 less the
// umask), a symbolic link followed only as OpenThroughLinks allows, a
// regular file or a character device only, never waiting on a FIFO. Null,
// with the reason in error (UTF-8, naming the file), when it cannot be.
std::FILE* OpenTraceFile(const std::string& path, std::string& error);
