#include "reports/csv_fields.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/fd.h"
#include "reports/calllog_loader.h"

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

bool SplitCsv(std::string_view text, std::vector<TCsvRecord>& records, std::string& error) {
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
                        error = "Строка " + std::to_string(opened) +
                                ": кавычка открыта и не закрыта до конца файла";
                        records.clear();
                        return false;
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
    return true;
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

bool ReadTableFile(const std::string& path, std::string& text, std::string& error) {
    const TFileResult read = ReadSmallFile(path, text);
    if (read.Ok()) return true;
    error = LoadFailureText(read, path);
    return false;
}
