#include "reports/report_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

#include "base/cp1251.h"
#include "base/fd.h"
#include "base/staged_files.h"

const char* const kCallExportHeader =
    "        Начало         Длит.    Апп.  Прг.   СЛ     Набранный номер";
const char* const kALExportHeader =
    "Апп.АЛ     Прг.АЛ      Исх. трафик    Вх. трафик     Общий трафик";
const char* const kSLExportHeader = "Апп.СЛ   Исх. трафик    Вх. трафик     Общий трафик";

namespace {

// Byte offset of the character with 0-based index chars, or npos when the
// text has fewer characters.
size_t ByteOffsetOfChar(const std::string& s, size_t chars) {
    size_t seen = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) continue;  // continuation byte
        if (seen == chars) return i;
        ++seen;
    }
    return seen == chars ? s.size() : std::string::npos;
}

// Zero in front of a time text shorter than eight characters (9:05:07).
std::string EightWide(const std::string& t) {
    return ByteOffsetOfChar(t, 8) == std::string::npos ? "0" + t : t;
}

constexpr size_t kChunk = size_t{1} << 20;

}  // namespace

void InsertAt(std::string& line, const std::string& t, size_t p) {
    const size_t at = p == 0 ? 0 : ByteOffsetOfChar(line, p - 1);
    if (at == std::string::npos)
        line += t;
    else
        line.insert(at, t);
}

std::string CallExportLine(const std::array<std::string, 7>& cells) {
    std::string line = cells[0] + "  ";
    line += EightWide(cells[1]) + "  ";
    line += EightWide(cells[2]) + std::string(24, ' ');
    InsertAt(line, cells[3], 33);
    InsertAt(line, cells[4], 39);
    InsertAt(line, cells[5], 46);
    InsertAt(line, cells[6], 53);
    return line;
}

std::string ALExportLine(const std::array<std::string, 5>& cells) {
    std::string line = cells[0] + std::string(45, ' ');
    InsertAt(line, cells[1], 13);
    InsertAt(line, cells[2], 25);
    InsertAt(line, cells[3], 40);
    InsertAt(line, cells[4], 56);
    return line;
}

std::string SLExportLine(const std::array<std::string, 4>& cells) {
    std::string line = cells[0] + std::string(45, ' ');
    InsertAt(line, cells[1], 11);
    InsertAt(line, cells[2], 26);
    InsertAt(line, cells[3], 42);
    return line;
}

TFileResult WriteLinesToFile(size_t count, const TExportLineAt& lineAt, const std::string& path,
                             const TWriteControl& control) {
    return WriteFileReplacing(
        path,
        [&](int fd, const std::string&) -> TFileResult {
            if (control.Progress && !control.Progress(0, count)) return {TFileStatus::Cancelled, 0};
            std::string chunk;
            chunk.reserve(kChunk + 512);
            for (size_t i = 0; i < count; ++i) {
                const std::string line = lineAt(i);
                if (IsAscii(line))
                    chunk += line;
                else
                    chunk += Utf8ToCp1251(line);
                chunk += "\r\n";
                if (chunk.size() >= kChunk || i + 1 == count) {
                    if (!WriteAll(fd, chunk.data(), chunk.size()))
                        return {TFileStatus::CannotWrite, errno};
                    chunk.clear();
                    if (control.Progress && !control.Progress(i + 1, count))
                        return {TFileStatus::Cancelled, 0};
                }
            }
            return {};
        },
        control);
}

TFileResult WriteLinesToFile(const std::vector<std::string>& ListBox2, const std::string& path) {
    return WriteLinesToFile(
        ListBox2.size(), [&ListBox2](size_t i) { return ListBox2[i]; }, path);
}
