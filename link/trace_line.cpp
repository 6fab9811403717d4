#include "link/trace_line.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>

#include "base/fd.h"
#include "link/comm_error.h"

TTraceLine::TTraceLine(std::shared_ptr<IByteLine> inner, std::FILE* out,
                       std::shared_ptr<IClock> clock)
    : inner_(std::move(inner)), out_(out), clock_(std::move(clock)), start_(clock_->Now()) {}

TTraceLine::~TTraceLine() {
    if (out_) std::fclose(out_);
}

void TTraceLine::Line(const char* format, ...) {
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(clock_->Now() - start_);
    std::fprintf(out_, "%lld.%06lld ", static_cast<long long>(us.count() / 1000000),
                 static_cast<long long>(us.count() % 1000000));
    va_list args;
    va_start(args, format);
    std::vfprintf(out_, format, args);
    va_end(args);
    std::fputc('\n', out_);
}

template <typename Op>
auto TTraceLine::Traced(const char* what, Op op) -> decltype(op()) {
    try {
        return op();
    } catch (const ECommError& e) {
        Line("%s: ошибка %d (%s)", what, e.Code, std::strerror(static_cast<int>(e.SystemError)));
        // What led to a failure is worth having on the disk at once.
        std::fflush(out_);
        throw;
    }
}

void TTraceLine::Open(const std::string& name, const std::string& startDir) {
    Traced("open", [&] { inner_->Open(name, startDir); });
    Line("open %s", name.c_str());
}

void TTraceLine::Close() {
    Traced("close", [&] { inner_->Close(); });
    Line("close");
    std::fflush(out_);
}

int TTraceLine::ReadWithin(int timeoutMs) {
    const int b = Traced("read", [&] { return inner_->ReadWithin(timeoutMs); });
    if (b < 0) {
        Line("< -- (%d ms)", timeoutMs);
        // A silent line is when someone looks at the trace.
        std::fflush(out_);
    } else {
        Line("< %02X", static_cast<unsigned>(b));
    }
    return b;
}

void TTraceLine::WriteByte(uint8_t b) {
    Traced("write", [&] { inner_->WriteByte(b); });
    Line("> %02X", static_cast<unsigned>(b));
}

void TTraceLine::PurgeInput() {
    Traced("purge", [&] { inner_->PurgeInput(); });
    Line("purge");
}

void TTraceLine::Flush() {
    Traced("flush", [&] { inner_->Flush(); });
    Line("flush");
}

std::FILE* OpenTraceFile(const std::string& path, std::string& error) {
    const std::string quoted = "\"" + path + "\"";
    TAppendOpen how = TAppendOpen::Failed;
    TFd fd = OpenToAppend(path, 0644, how);
    switch (how) {
        case TAppendOpen::Opened:
            break;
        case TAppendOpen::LinkRefused:
            error = RefusedLinkText(path);
            return nullptr;
        case TAppendOpen::NotAFile:
            error = "Файл трассировки " + quoted + " не является обычным файлом.";
            return nullptr;
        case TAppendOpen::Failed:
            error = "Файл трассировки " + quoted + ": " + std::strerror(errno);
            return nullptr;
    }
    // A regular file is written blocking from now on, as a device is.
    static_cast<void>(::fcntl(fd.Get(), F_SETFL, O_WRONLY | O_APPEND));
    std::FILE* out = ::fdopen(fd.Get(), "a");
    if (!out) {
        error = "Файл трассировки " + quoted + ": " + std::strerror(errno);
        return nullptr;
    }
    static_cast<void>(fd.Release());
    return out;
}
