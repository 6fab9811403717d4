#include "reports/report_sheets.h"

#include <cerrno>

#include "base/fd.h"
#include "reports/report_export.h"

namespace {

constexpr size_t kChunk = size_t{1} << 20;
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

void AppendRecord(std::string& out, const std::vector<std::string>& fields) {
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i) out += ';';
        AppendCsvField(out, fields[i]);
    }
    out += "\r\n";
}

// Writes the header and then rows for which rowAt (row, record) gives true,
// flushing the text in chunks of about a megabyte.
template <class RowAt>
TFileResult WriteCsv(const std::vector<std::string>& headers, size_t rows, RowAt rowAt,
                     const std::string& path, const TWriteControl& control) {
    return WriteFileReplacing(
        path,
        [&](int fd, const std::string&) -> TFileResult {
            if (control.Progress && !control.Progress(0, rows)) return {TFileStatus::Cancelled, 0};
            std::string chunk = kByteOrderMark;
            chunk.reserve(kChunk + 4096);
            AppendRecord(chunk, headers);
            std::vector<std::string> fields;
            for (size_t row = 0; row <= rows; ++row) {
                if (row < rows && rowAt(row, fields)) AppendRecord(chunk, fields);
                if (chunk.size() >= kChunk || row == rows) {
                    if (!WriteAll(fd, chunk.data(), chunk.size()))
                        return {TFileStatus::CannotWrite, errno};
                    chunk.clear();
                    if (control.Progress && !control.Progress(row, rows))
                        return {TFileStatus::Cancelled, 0};
                }
            }
            return {};
        },
        control);
}

}  // namespace

void AppendCsvField(std::string& record, std::string_view text) {
    if (text.find_first_of(";\"\r\n") == std::string_view::npos) {
        record += text;
        return;
    }
    record += '"';
    for (const char c : text) {
        if (c == '"') record += '"';
        record += c;
    }
    record += '"';
}

std::string CallsCsvHead(const TCallGrid& grid) {
    std::string head = kByteOrderMark;
    AppendRecord(head, grid.Headers());
    return head;
}

void AppendCallsCsvRows(const TCallGrid& grid, std::string& out) {
    for (size_t row = 0; row < grid.RowCount(); ++row)
        if (grid.Record(row)) AppendRecord(out, grid.FixedRow(row));
}

TFileResult WriteCallsCsv(const TCallGrid& grid, const std::string& path,
                          const TWriteControl& control) {
    return WriteCsv(
        grid.Headers(), grid.RowCount(),
        [&grid](size_t row, std::vector<std::string>& fields) {
            if (!grid.Record(row)) return false;
            fields = grid.FixedRow(row);
            return true;
        },
        path, control);
}

namespace {

// A list grid's CSV: its headers, then its rows as they are.
template <typename TGrid>
TFileResult WriteListCsv(const TGrid& grid, const std::string& path, const TWriteControl& control) {
    return WriteCsv(
        grid.Headers(), grid.RowCount(),
        [&grid](size_t row, std::vector<std::string>& fields) {
            fields = grid.Row(row);
            return true;
        },
        path, control);
}

// A list grid's CSV as WriteListCsv writes it.
template <typename TGrid>
std::string ListCsvText(const TGrid& grid) {
    std::string text = kByteOrderMark;
    AppendRecord(text, grid.Headers());
    for (size_t row = 0; row < grid.RowCount(); ++row)
        AppendRecord(text, grid.Row(row));
    return text;
}

}  // namespace

std::string ALCsvText(const TALGrid& grid) {
    return ListCsvText(grid);
}

std::string SLCsvText(const TSLGrid& grid) {
    return ListCsvText(grid);
}

TFileResult WriteALCsv(const TALGrid& grid, const std::string& path, const TWriteControl& control) {
    return WriteListCsv(grid, path, control);
}

TFileResult WriteSLCsv(const TSLGrid& grid, const std::string& path, const TWriteControl& control) {
    return WriteListCsv(grid, path, control);
}
