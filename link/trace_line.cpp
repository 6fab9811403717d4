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
    bool refused = false;
    TFd fd = OpenThroughLinks(
        path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644, refused);
    if (refused) {
        error = RefusedLinkText(path);
        return nullptr;
    }
    struct stat st {};
    const int e = fd.IsOpen() ? 0 : errno;
    // A FIFO without a reader fails to open (ENXIO): it is said what it is.
    if ((fd.IsOpen() ? ::fstat(fd.Get(), &st) : ::stat(path.c_str(), &st)) != 0 ||
        (!fd.IsOpen() && (S_ISREG(st.st_mode) || S_ISCHR(st.st_mode) || S_ISDIR(st.st_mode)))) {
        error = "Файл трассировки " + quoted + ": " + std::strerror(e ? e : errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode)) {
        error = "Файл трассировки " + quoted + " не является обычным файлом.";
        return nullptr;
    }
    // Written blocking from now on, as any file.
    static_cast<void>(::fcntl(fd.Get(), F_SETFL, O_WRONLY | O_APPEND));
    std::FILE* out = ::fdopen(fd.Get(), "a");
    if (!out) {
        error = "Файл трассировки " + quoted + ": " + std::strerror(errno);
        return nullptr;
    }
    static_cast<void>(fd.Release());
    return out;
}
