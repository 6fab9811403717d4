#include "acquisition/unacknowledged_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "calllog/call_line.h"

namespace {

constexpr std::string_view kHeader = "TALLYPHON-UNACKNOWLEDGED 2\n";
constexpr std::string_view kEnd = "END\n";
// Units of the largest exchange, with room to spare.
constexpr int kMaxUnit = 15;
constexpr size_t kMaxPayload = 255;
// A call line is well under this; anything longer is not ours.
constexpr size_t kMaxLine = 1024;
constexpr size_t kMaxFileSize = 64 * 1024;
// Room for the title blocks of some hundred interrupted starts.
constexpr uint64_t kMaxTitlesAfterLine = 64 * 1024;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool ParseHex(std::string_view hex, size_t maxBytes, std::string& out) {
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() / 2 > maxBytes) return false;
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

void AppendHex(std::string& text, std::string_view bytes) {
    static const char kHex[] = "0123456789abcdef";
    for (const char c : bytes) {
        const auto b = static_cast<uint8_t>(c);
        text += kHex[b >> 4];
        text += kHex[b & 0x0F];
    }
}

// A decimal number without a needless leading zero.
bool ParseNumber(std::string_view s, uint64_t limit, uint64_t& value) {
    if (s.empty() || s.size() > 19 || (s.size() > 1 && s[0] == '0')) return false;
    value = 0;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= limit;
}

// One "<unit> <payload hex> <offset> <line hex>" line; false when it is not
// exactly that.
bool ParseLine(std::string_view line, int& unit, TUnacknowledged& record) {
    std::string_view fields[4];
    for (int i = 0; i < 4; ++i) {
        const size_t blank = line.find(' ');
        if ((blank == std::string_view::npos) != (i == 3)) return false;
        fields[i] = line.substr(0, blank);
        line = blank == std::string_view::npos ? std::string_view() : line.substr(blank + 1);
    }
    uint64_t u = 0;
    std::string payload;
    if (!ParseNumber(fields[0], kMaxUnit, u) || !ParseHex(fields[1], kMaxPayload, payload) ||
        !ParseNumber(fields[2], static_cast<uint64_t>(INT64_MAX), record.Offset) ||
        !ParseHex(fields[3], kMaxLine, record.Line))
        return false;
    unit = static_cast<int>(u);
    record.Payload.assign(payload.begin(), payload.end());
    return true;
}

}  // namespace

TUnacknowledgedFile::TUnacknowledgedFile(std::string path) : path_(std::move(path)) {}

std::map<int, TUnacknowledged> TUnacknowledgedFile::Load() const {
    // Not blocking on a FIFO planted under the name, and never read through
    // a link.
    TFd file(::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (!file.IsOpen() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_size > static_cast<off_t>(kMaxFileSize))
        return {};
    std::string text;
    if (!ReadAtMost(file.Get(), kMaxFileSize, text) || text.size() > kMaxFileSize) return {};
    std::string_view rest(text);
    if (rest.substr(0, kHeader.size()) != kHeader) return {};
    rest.remove_prefix(kHeader.size());
    std::map<int, TUnacknowledged> records;
    while (rest != kEnd) {
        const size_t end = rest.find('\n');
        if (end == std::string_view::npos) return {};
        int unit = 0;
        TUnacknowledged record;
        if (!ParseLine(rest.substr(0, end), unit, record) || records.count(unit)) return {};
        records[unit] = std::move(record);
        rest.remove_prefix(end + 1);
    }
    return records;
}

TFd TUnacknowledgedFile::Save(const std::map<int, TUnacknowledged>& records) const {
    if (records.empty()) {
        if (::rename(path_.c_str(), (path_ + ".old").c_str()) != 0 && errno != ENOENT)
            ::unlink(path_.c_str());
        return TFd();
    }
    std::string text(kHeader);
    for (const auto& [unit, record] : records) {
        text += std::to_string(unit) + " ";
        AppendHex(text, std::string_view(reinterpret_cast<const char*>(record.Payload.data()),
                                         record.Payload.size()));
        text += " " + std::to_string(record.Offset) + " ";
        AppendHex(text, record.Line);
        text += '\n';
    }
    text += kEnd;
    const std::string temporary = path_ + ".tmp";
    // A temporary file left by a kill, or anything planted under its name,
    // is removed (a link itself, not its target) and the file made anew.
    ::unlink(temporary.c_str());
    TFd file(::open(temporary.c_str(),
                    O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    if (file.IsOpen() && WriteAll(file.Get(), text.data(), text.size()) &&
        ::rename(temporary.c_str(), path_.c_str()) == 0)
        return file;
    const int saved = errno;
    ::unlink(temporary.c_str());
    ::unlink(path_.c_str());
    errno = saved;
    return TFd();
}

void TUnacknowledgedFile::RemoveRetired() const {
    ::unlink((path_ + ".old").c_str());
}

bool CallLogEndsWith(const std::string& callLog, const TUnacknowledged& record) {
    if (record.Line.empty()) return false;
    TFd file(::open(callLog.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!file.IsOpen() || fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) < record.Offset + record.Line.size())
        return false;
    // Title blocks of runs that were interrupted before the record was
    // offered again may follow the line; anything else means the line is
    // not the last call written.
    const uint64_t tail = static_cast<uint64_t>(st.st_size) - record.Offset - record.Line.size();
    if (tail > kMaxTitlesAfterLine) return false;
    std::string bytes(record.Line.size() + tail, '\0');
    if (!ReadAll(file.Get(), bytes.data(), bytes.size(), static_cast<off_t>(record.Offset)) ||
        bytes.compare(0, record.Line.size(), record.Line) != 0)
        return false;
    std::string_view rest = std::string_view(bytes).substr(record.Line.size());
    while (!rest.empty()) {
        const size_t title = TitleBlockLength(rest);
        if (title == 0) return false;
        rest.remove_prefix(title);
    }
    return true;
}
