#include "calllog/calllog_loader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "base/cp1251.h"
#include "base/fd.h"
#include "calllog/report_datetime.h"

namespace {

constexpr size_t kMinCountedLength = 30;  // shorter lines are dropped before counting
constexpr size_t kMinLineLength = 47;     // shorter lines are rejected by the line rule
constexpr size_t kListRoom = 100000;
// Two decimal digits at index i, or -1.
inline int Digits2(const char* s, size_t i) {
    const unsigned a = static_cast<unsigned char>(s[i]) - '0';
    const unsigned b = static_cast<unsigned char>(s[i + 1]) - '0';
    return a <= 9 && b <= 9 ? static_cast<int>(a * 10 + b) : -1;
}

// Stores bytes as UTF-8 text, keeping only non-blank characters when asked.
template <class Text>
void StoreText(Text& dst, const char* begin, const char* end, bool dropBlanks) {
    std::string_view text(begin, static_cast<size_t>(end - begin));
    char local[64];  // the usual field, without touching the heap
    std::string kept;
    if (dropBlanks && text.find(' ') != std::string_view::npos) {
        char* out = local;
        if (text.size() > sizeof local) {
            kept.resize(text.size());
            out = kept.data();
        }
        size_t n = 0;
        for (char c : text)
            if (c != ' ') out[n++] = c;
        text = std::string_view(out, n);
    }
    if (IsAscii(text))
        dst.assign(text);
    else
        dst.assign(Cp1251ToUtf8(text));
}

// Feeds lines to the parser and keeps the count of lines long enough to count.
class TLineSink {
  public:
    explicit TLineSink(TCallLogContent& out) : out_(out) {}
    // A line too long to keep, counted and rejected without its bytes.
    void Overlong() { ++out_.LineCount; }
    void operator()(const char* begin, size_t len) {
        if (len < kMinCountedLength) return;
        ++out_.LineCount;
        if (len > kMaxCallLogLineLength) return;
        TExtStr_rep& rec = out_.LineList.Add();
        if (!ParseCallLogLine(std::string_view(begin, len), rec)) out_.LineList.DropLast();
    }

  private:
    TCallLogContent& out_;
};

// The fixed-column layout.
bool ParseStandardLine(std::string_view line, TExtStr_rep& rec) {
    const size_t n = line.size();
    const char* s = line.data();
    if (n < kMinLineLength || s[0] == ' ') return false;

    const int day = Digits2(s, 0), month = Digits2(s, 3);
    const int y1 = Digits2(s, 6), y2 = Digits2(s, 8);
    const int hour = Digits2(s, 11), minute = Digits2(s, 14), second = Digits2(s, 17);
    const int dh = Digits2(s, 22), dm = Digits2(s, 25), ds = Digits2(s, 28);
    if ((day | month | y1 | y2 | hour | minute | second | dh | dm | ds) < 0) return false;
    const int year = y1 * 100 + y2;
    if (!IsValidRepDate(year, month, day)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    if (dh > 23 || dm > 59 || ds > 59) return false;

    // The hardware number runs from index 33 up to "("; a number of one or
    // two digits must not swallow the "(" or the programmed number's first
    // character. Without such a "(" the fixed three characters are taken.
    size_t hwEnd = 33;
    while (hwEnd < n && s[hwEnd] != '(' && s[hwEnd] != ' ' && s[hwEnd] != ')')
        ++hwEnd;
    size_t prgStart;
    if (hwEnd < n && s[hwEnd] == '(') {
        prgStart = hwEnd + 1;
    } else {
        hwEnd = 36;
        prgStart = 37;
    }
    const void* rp = std::memchr(s + prgStart, ')', n - prgStart);
    if (!rp) return false;
    const size_t prgEnd = static_cast<size_t>(static_cast<const char*>(rp) - s);

    size_t i = prgEnd + 1;
    while (i < n && s[i] == ' ')
        ++i;
    const size_t trunkBegin = i;
    while (i < n && s[i] != ' ')
        ++i;
    const size_t trunkEnd = i;
    const size_t extBegin = i < n ? i + 1 : n;

    rec.StartTime = EncodeRepDateTime(year, month, day, hour, minute, second);
    rec.DurTotalSec = dh * 3600 + dm * 60 + ds;
    StoreText(rec.HwLine, s + 33, s + hwEnd, false);
    StoreText(rec.PrgLine, s + prgStart, s + prgEnd, true);
    StoreText(rec.Trunk, s + trunkBegin, s + trunkEnd, false);
    StoreText(rec.ExtNumber, s + extBegin, s + n, true);
    return true;
}

// The value of a field of decimal digits only, -1 when it is empty, holds
// anything else or reaches limit (which also keeps it from overflowing).
int DecimalField(std::string_view f, int limit) {
    if (f.empty()) return -1;
    int v = 0;
    for (char c : f) {
        const unsigned d = static_cast<unsigned char>(c) - '0';
        if (d > 9) return -1;
        v = v * 10 + static_cast<int>(d);
        if (v >= limit) return -1;
    }
    return v;
}

bool AllDigits(std::string_view f) {
    return !f.empty() && f.find_first_not_of("0123456789") == std::string_view::npos;
}

// The semicolon layout: programmed number; line; trunk; incoming flag;
// DD/MM/YYYY; hh:mm:ss; duration in seconds; dialled number; serial number.
// Read into the same fields as the fixed-column line of the same call, so
// that a file whose layout was switched between runs reports as one.
bool ParseAltLine(std::string_view line, TExtStr_rep& rec) {
    constexpr size_t kFields = 9;
    std::string_view f[kFields];
    size_t k = 0;
    for (size_t from = 0;;) {
        const size_t sep = line.find(';', from);
        const size_t end = sep == std::string_view::npos ? line.size() : sep;
        if (k == kFields) return false;
        f[k++] = line.substr(from, end - from);
        if (sep == std::string_view::npos) break;
        from = sep + 1;
    }
    if (k != kFields) return false;

    const std::string_view prg = f[0], hw = f[1], trunk = f[2], incoming = f[3];
    const std::string_view date = f[4], time = f[5], dialled = f[7];
    // The writer marks a call incoming exactly when nothing was dialled.
    if (incoming != (dialled.empty() ? "1" : "0")) return false;
    // With the line and serial number not empty, a line taken is at least
    // 30 bytes, so the loader, which drops shorter lines uncounted, and the
    // shipper, which reads every line, take the same calls.
    if (!AllDigits(hw) || !AllDigits(f[8])) return false;
    if (date.size() != 10 || date[2] != '/' || date[5] != '/') return false;
    if (time.size() != 8 || time[2] != ':' || time[5] != ':') return false;
    const char* d = date.data();
    const char* t = time.data();
    const int day = Digits2(d, 0), month = Digits2(d, 3), y1 = Digits2(d, 6), y2 = Digits2(d, 8);
    const int hour = Digits2(t, 0), minute = Digits2(t, 3), second = Digits2(t, 6);
    if ((day | month | y1 | y2 | hour | minute | second) < 0) return false;
    const int year = y1 * 100 + y2;
    if (!IsValidRepDate(year, month, day)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    // Below a day, as the fixed-column line's hours field allows.
    const int seconds = DecimalField(f[6], 24 * 3600);
    if (seconds < 0) return false;

    rec.StartTime = EncodeRepDateTime(year, month, day, hour, minute, second);
    rec.DurTotalSec = seconds;
    StoreText(rec.HwLine, hw.data(), hw.data() + hw.size(), false);
    StoreText(rec.PrgLine, prg.data(), prg.data() + prg.size(), true);
    StoreText(rec.Trunk, trunk.data(), trunk.data() + trunk.size(), false);
    StoreText(rec.ExtNumber, dialled.data(), dialled.data() + dialled.size(), true);
    return true;
}

}  // namespace

bool ParseCallLogLine(std::string_view line, TExtStr_rep& rec) {
    // The fixed-column layout is by far the commoner, and its rule is the
    // older one: a line it takes is read by it alone.
    return ParseStandardLine(line, rec) || ParseAltLine(line, rec);
}

TCallLogContent ReadCallLogText(std::string_view text) {
    TCallLogContent content;
    content.LineList.Capacity(kListRoom);
    TLineSink sink(content);
    SplitCallLogLines(text.data(), text.size(), true, sink);
    return content;
}

TFileResult OpenRegularFile(const std::string& path, TFd& fd, off_t& size) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer; a regular file
    // ignores the flag.
    TFd opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!opened.IsOpen()) return {TFileStatus::CannotOpen, errno};
    struct stat st {};
    if (::fstat(opened.Get(), &st) != 0) return {TFileStatus::CannotRead, errno};
    if (!S_ISREG(st.st_mode))
        return {TFileStatus::CannotOpen, S_ISDIR(st.st_mode) ? EISDIR : EINVAL};
    fd = std::move(opened);
    size = st.st_size;
    return {};
}

TFileResult ReadCallLogFile(const std::string& path, TCallLogContent& content,
                            const TLoadProgress& progress) {
    TFd closer;
    off_t size = 0;
    if (const TFileResult opened = OpenRegularFile(path, closer, size); !opened.Ok()) return opened;
    const int fd = closer.Get();
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

    TCallLogContent result;
    // Room for the usual line length of the shorter, semicolon layout, at
    // least the customary 100000 records, so a large file is appended
    // without regrowth.
    const size_t expected = size > 0 ? static_cast<size_t>(size) / 48 + 16 : 0;
    result.LineList.Capacity(std::max(kListRoom, expected));
    TLineSink sink(result);

    const size_t cap = size_t{4} << 20;
    std::unique_ptr<char[]> buf(new char[cap]);
    size_t filled = 0;
    uint64_t done = 0;
    const uint64_t total = static_cast<uint64_t>(size);
    bool skipping = false;  // inside an overlong line, up to its end
    for (;;) {
        const ssize_t got = ::read(fd, buf.get() + filled, cap - filled);
        if (got < 0) {
            if (errno == EINTR) continue;
            return {TFileStatus::CannotRead, errno};
        }
        filled += static_cast<size_t>(got);
        done += static_cast<uint64_t>(got);
        const bool atEnd = got == 0;
        if (progress && !progress(done, total)) return {TFileStatus::Cancelled, 0};
        if (skipping) {
            // The line end stays: it ends an empty line, which is dropped.
            const char* b = buf.get();
            const char* e =
                std::find_if(b, b + filled, [](char c) { return c == '\n' || c == '\r'; });
            skipping = e == b + filled;
            filled -= static_cast<size_t>(e - b);
            std::memmove(buf.get(), e, filled);
        }
        const size_t used = SplitCallLogLines(buf.get(), filled, atEnd, sink);
        if (atEnd) break;
        // Keep the incomplete line, unless it is already too long: then
        // it is counted and the rest of it is skipped.
        std::memmove(buf.get(), buf.get() + used, filled - used);
        filled -= used;
        const bool endsInCr = filled > 0 && buf[filled - 1] == '\r';
        if (filled - (endsInCr ? 1 : 0) > kMaxCallLogLineLength) {
            sink.Overlong();
            skipping = !endsInCr;
            filled = 0;
        }
    }
    content = std::move(result);
    return {};
}

std::string LoadFailureText(const TFileResult& result, const std::string& path) {
    const char* verb = result.Status == TFileStatus::CannotOpen ? "Не удалось открыть файл \""
                                                                : "Не удалось прочитать файл \"";
    return verb + path + "\": " + std::strerror(result.Error);
}
