#include "unacknowledged_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "fd.h"

namespace {

constexpr std::string_view kHeader = "TALLYPHON-UNACKNOWLEDGED 1\n";
constexpr std::string_view kEnd = "END\n";
// Units of the largest exchange, with room to spare.
constexpr int kMaxUnit = 15;
constexpr size_t kMaxPayload = 255;
constexpr size_t kMaxFileSize = 4096;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// One "<unit> <hex>" line; false when it is not exactly that.
bool ParseLine(std::string_view line, int& unit, std::vector<uint8_t>& payload) {
    const size_t blank = line.find(' ');
    if (blank != 1 && blank != 2) return false;
    unit = 0;
    for (size_t i = 0; i < blank; ++i) {
        if (line[i] < '0' || line[i] > '9') return false;
        unit = unit * 10 + (line[i] - '0');
    }
    if (unit > kMaxUnit || (blank == 2 && line[0] == '0')) return false;
    const std::string_view hex = line.substr(blank + 1);
    if (hex.empty() || hex.size() % 2 != 0 || hex.size() / 2 > kMaxPayload) return false;
    payload.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        payload.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

}  // namespace

TUnacknowledgedFile::TUnacknowledgedFile(std::string path) : path_(std::move(path)) {}

std::map<int, std::vector<uint8_t>> TUnacknowledgedFile::Load() {
    records_.clear();
    TFd file(::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!file.IsOpen()) return {};
    std::string text(kMaxFileSize + 1, '\0');
    size_t got = 0;
    for (;;) {
        const ssize_t n = ::read(file.Get(), &text[got], text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return {};
        if (n == 0) break;
        got += static_cast<size_t>(n);
        if (got > kMaxFileSize) return {};
    }
    text.resize(got);
    std::string_view rest(text);
    if (rest.substr(0, kHeader.size()) != kHeader) return {};
    rest.remove_prefix(kHeader.size());
    std::map<int, std::vector<uint8_t>> records;
    while (rest != kEnd) {
        const size_t end = rest.find('\n');
        if (end == std::string_view::npos) return {};
        int unit = 0;
        std::vector<uint8_t> payload;
        if (!ParseLine(rest.substr(0, end), unit, payload) || records.count(unit)) return {};
        records[unit] = std::move(payload);
        rest.remove_prefix(end + 1);
    }
    records_ = records;
    return records;
}

void TUnacknowledgedFile::Remember(int unit, const std::vector<uint8_t>& payload) {
    records_[unit] = payload;
    Save();
}

void TUnacknowledgedFile::Forget(int unit) {
    if (records_.erase(unit) > 0) Save();
}

void TUnacknowledgedFile::Save() {
    if (records_.empty()) {
        ::unlink(path_.c_str());
        return;
    }
    static const char kHex[] = "0123456789abcdef";
    std::string text(kHeader);
    for (const auto& [unit, payload] : records_) {
        text += std::to_string(unit) + " ";
        for (const uint8_t b : payload) {
            text += kHex[b >> 4];
            text += kHex[b & 0x0F];
        }
        text += '\n';
    }
    text += kEnd;
    const std::string temporary = path_ + ".tmp";
    TFd file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    // Not forced to the disk: this runs between two requests of a reading,
    // and the call-log line it follows is not forced either. What matters is
    // the order (after the line) and that a reader finds the old file or the
    // new one, never half of one.
    const bool written = file.IsOpen() && WriteAll(file.Get(), text.data(), text.size()) &&
                         file.Close() && ::rename(temporary.c_str(), path_.c_str()) == 0;
    if (!written) {
        // An old record left behind could be taken for a new call that is
        // identical to it: rather keep nothing, which costs at most a line
        // written twice.
        ::unlink(temporary.c_str());
        ::unlink(path_.c_str());
    }
}
