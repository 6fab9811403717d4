#include "report_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "cp1251.h"
#include "fd.h"

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

int WriteLinesToFile(const std::vector<std::string>& ListBox2, const std::string& path, int* err) {
    int stored = 0;
    const auto fail = [&](int rc) {
        if (err) *err = stored;
        return rc;
    };
    try {
        std::string data;
        for (const std::string& item : ListBox2) {
            data += Utf8ToCp1251(item);
            data += "\r\n";
        }
        TFd file(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
        if (!file.IsOpen()) {
            // Not creatable: try the existing file for writing without
            // creating it, which tells a missing directory or a refused
            // permission from a passing failure.
            stored = errno;
            TFd probe(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
            if (!probe.IsOpen()) {
                stored = errno;
                return fail(-2);
            }
            if (!probe.Close()) {
                stored = errno;
                return fail(-3);
            }
            file = TFd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
            if (!file.IsOpen()) {
                stored = errno;
                return fail(-2);
            }
        }
        // A failed write or close leaves an incomplete file, which must not
        // be reported as written.
        if (!WriteAll(file.Get(), data.data(), data.size())) {
            stored = errno;
            return fail(-3);
        }
        if (!file.Close()) {
            stored = errno;
            return fail(-3);
        }
        return 0;
    } catch (const std::exception&) {
        stored = errno;
        return fail(-1);
    }
}
