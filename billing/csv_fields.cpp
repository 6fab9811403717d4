#include "billing/csv_fields.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "base/cp1251.h"
#include "base/fd.h"
#include "calllog/calllog_loader.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// UTF-8 of UTF-16 bytes after their BOM; an empty reason when good.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian, std::string& out) {
    const std::string name = bigEndian ? "UTF-16BE" : "UTF-16LE";
    if (bytes.size() % 2) return "текст в кодировке " + name + " обрывается на половине знака";
    out.clear();
    out.reserve(bytes.size() * 3 / 2);
    const auto unit = [&](size_t i) -> uint32_t {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (size_t i = 0; i < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDFFF) {
            const uint32_t low = i + 3 < bytes.size() ? unit(i + 2) : 0;
            if (c > 0xDBFF || low < 0xDC00 || low > 0xDFFF)
                return "текст в кодировке " + name + " повреждён (непарный суррогат)";
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        AppendUtf8(out, c);
    }
    return {};
}

// Russian and Latin capitals in lower case; other bytes as they are.
std::string Lowered(std::string_view s) {
    std::string out(s);
    for (size_t i = 0; i < out.size(); ++i) {
        unsigned char& c = reinterpret_cast<unsigned char&>(out[i]);
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<unsigned char>(c + 32);
        } else if (c == 0xD0 && i + 1 < out.size()) {
            unsigned char& d = reinterpret_cast<unsigned char&>(out[++i]);
            if (d >= 0x90 && d <= 0x9F) {  // А..П
                d = static_cast<unsigned char>(d + 0x20);
            } else if (d >= 0xA0 && d <= 0xAF) {  // Р..Я
                c = 0xD1;
                d = static_cast<unsigned char>(d - 0x20);
            } else if (d == 0x81) {  // Ё
                c = 0xD1;
                d = 0x91;
            }
        }
    }
    return out;
}

}  // namespace

TBillingResult SplitCsv(std::string_view text, std::vector<TCsvRecord>& records) {
    records.clear();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    const size_t n = text.size();
    size_t i = 0;
    int line = 1;
    // Ends a line at i (on CR, LF or CR LF) and counts it.
    auto lineEnd = [&]() {
        if (text[i] == '\r' && i + 1 < n && text[i + 1] == '\n') ++i;
        ++i;
        ++line;
    };
    while (i < n) {
        TCsvRecord rec;
        rec.Line = line;
        for (;;) {  // one field per pass
            std::string field;
            while (i < n && IsBlank(text[i]))
                ++i;
            size_t keep = 0;  // quoted content is never trimmed
            if (i < n && text[i] == '"') {
                const int opened = line;
                ++i;
                for (;;) {
                    if (i >= n) {
                        records.clear();
                        return TBillingResult::Invalid(
                            "Строка " + std::to_string(opened) +
                            ": кавычка открыта и не закрыта до конца файла");
                    }
                    const char c = text[i];
                    if (c == '"') {
                        if (i + 1 < n && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (c == '\r' || c == '\n') {
                        const size_t from = i;
                        lineEnd();
                        field.append(text.substr(from, i - from));
                        continue;
                    }
                    field += c;
                    ++i;
                }
                keep = field.size();
            }
            while (i < n && text[i] != ';' && text[i] != '\r' && text[i] != '\n')
                field += text[i++];
            size_t end = field.size();
            while (end > keep && IsBlank(field[end - 1]))
                --end;
            field.resize(end);
            rec.Fields.push_back(std::move(field));
            if (i < n && text[i] == ';') {
                ++i;
                continue;
            }
            if (i < n) lineEnd();
            break;
        }
        // An empty spreadsheet row is saved as separators alone.
        const bool blank = std::all_of(rec.Fields.begin(), rec.Fields.end(),
                                       [](const std::string& f) { return f.empty(); });
        if (!blank) records.push_back(std::move(rec));
    }
    return {};
}

TFileResult ReadSmallFile(const std::string& path, std::string& text) {
    TFd closer;
    off_t size = 0;
    if (const TFileResult opened = OpenRegularFile(path, closer, size); !opened.Ok()) return opened;
    const int fd = closer.Get();
    if (size > (off_t{64} << 20)) return {TFileStatus::CannotRead, EFBIG};
    std::string result;
    char buf[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR) continue;
            return {TFileStatus::CannotRead, errno};
        }
        if (got == 0) break;
        result.append(buf, static_cast<size_t>(got));
        if (result.size() > (size_t{64} << 20)) return {TFileStatus::CannotRead, EFBIG};
    }
    text = std::move(result);
    return {};
}

TBillingResult ReadTableFile(const std::string& path, std::string& text) {
    std::string bytes;
    const TFileResult read = ReadSmallFile(path, bytes);
    if (!read.Ok()) return {TBillingOutcome::CannotRead, LoadFailureText(read, path), read.Error};
    return DecodeTable(std::move(bytes), path, text);
}

TBillingResult DecodeTable(std::string bytes, const std::string& name, std::string& text) {
    const std::string_view head = std::string_view(bytes).substr(0, 2);
    if (head == "\xFF\xFE" || head == "\xFE\xFF") {
        const std::string why =
            Utf16ToUtf8(std::string_view(bytes).substr(2), head[0] == '\xFE', text);
        if (why.empty()) return {};
        return {TBillingOutcome::CannotRead, "Не удалось прочитать файл \"" + name + "\": " + why,
                0};
    }
    text = IsUtf8(bytes) ? std::move(bytes) : Cp1251ToUtf8(bytes);
    return {};
}

bool IsHeaderRecord(const TCsvRecord& rec, const char* const* names, size_t count) {
    const std::vector<std::string>& f = rec.Fields;
    if (f.size() > count || f[0].empty()) return false;
    for (size_t k = 0; k < f.size(); ++k) {
        if (f[k].empty()) continue;
        const std::string word = Lowered(f[k]);
        std::string_view allowed = names[k];
        bool found = false;
        while (!found && !allowed.empty()) {
            const size_t bar = allowed.find('|');
            found = allowed.substr(0, bar) == word;
            allowed.remove_prefix(bar == std::string_view::npos ? allowed.size() : bar + 1);
        }
        if (!found) return false;
    }
    return true;
}
