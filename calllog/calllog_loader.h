// Reading call-log files (either layout the reading writes, mixed as the
// setting changed between runs) into report records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

#include "base/fd.h"
#include "base/file_result.h"
#include "calllog/call_record.h"

// A call-log line is a few hundred bytes at most; a longer one is no call,
// and keeping it whole would let one line take as much memory as the file.
constexpr size_t kMaxCallLogLineLength = 4096;

// Splits buf[0, filled) into lines ended by CR LF, LF or CR, and hands each
// complete one to sink(begin, length), line end left off.
// Returns the index where the first incomplete line starts (filled when none
// is left). A CR as the last byte is complete only at the end of input, since
// an LF may follow it.
template <class Sink>
size_t SplitCallLogLines(const char* buf, size_t filled, bool atEnd, Sink& sink) {
    size_t pos = 0;
    size_t nextLf = 0;  // index of the next LF at or after pos, or filled
    bool lfKnown = false;
    while (pos < filled) {
        if (!lfKnown || nextLf < pos) {
            const void* p = std::memchr(buf + pos, '\n', filled - pos);
            nextLf = p ? static_cast<size_t>(static_cast<const char*>(p) - buf) : filled;
            lfKnown = true;
        }
        const void* c = std::memchr(buf + pos, '\r', nextLf - pos);
        if (c) {
            const size_t cr = static_cast<size_t>(static_cast<const char*>(c) - buf);
            if (cr + 1 >= filled && !atEnd) break;
            sink(buf + pos, cr - pos);
            pos = cr + 1 < filled && buf[cr + 1] == '\n' ? cr + 2 : cr + 1;
        } else if (nextLf < filled) {
            sink(buf + pos, nextLf - pos);
            pos = nextLf + 1;
        } else {
            if (!atEnd) break;
            sink(buf + pos, filled - pos);
            pos = filled;
        }
    }
    return pos;
}

// Reads one call-log line by the line rule into rec: the fixed-column
// layout, or when that rejects it, the semicolon layout, which gives the
// same record for the same call (its trunk unpadded, as it is written).
// Returns false when the line is rejected; rec may then hold anything. A
// fixed-column line is rejected when too short, starting with a blank,
// with a field that is not a number, an impossible date or time, or no ")"
// after the programmed number; a semicolon line unless it has exactly nine
// fields, the line, duration and serial number of digits, a date
// DD/MM/YYYY and time hh:mm:ss that exist, a duration below a day, and an
// incoming flag "1" exactly when the dialled number is empty. Never looks
// outside line.
bool ParseCallLogLine(std::string_view line, TExtStr_rep& rec);

// What one load produced: the number of lines of 30 characters or more and
// the records of the lines that passed the line rule, in file order. A line
// of more than 4096 bytes is counted and rejected; no more of it than that
// is held in memory while loading.
struct TCallLogContent {
    size_t LineCount = 0;
    TStrList_rep<TExtStr_rep> LineList;
};

// Splits text into lines (ended by CR LF, LF or CR) and reads them.
TCallLogContent ReadCallLogText(std::string_view text);

// Told how far a load has come: bytes read so far and the file's size.
// Returning false cancels the load.
using TLoadProgress = std::function<bool(uint64_t done, uint64_t total)>;

// Opens path for reading into fd and tells its size, when it is a regular
// file: CannotOpen when it cannot be opened or is anything else (a FIFO is
// refused without waiting for a writer, a device such as /dev/zero may
// never end), CannotRead when it cannot be looked at.
TFileResult OpenRegularFile(const std::string& path, TFd& fd, off_t& size);

// Reads a call-log file in large blocks. Done; CannotOpen when the file
// cannot be opened or is not a regular file (a FIFO is refused without
// waiting for a writer), CannotRead when reading it fails, Cancelled when
// progress returned false. On failure content is left untouched.
TFileResult ReadCallLogFile(const std::string& path, TCallLogContent& content,
                            const TLoadProgress& progress = nullptr);

// The message of a failed load of path: "Не удалось открыть файл"
// (CannotOpen) or "Не удалось прочитать файл", the name in quotes, and the
// system's text of the error in the language of the locale.
std::string LoadFailureText(const TFileResult& result, const std::string& path);
