#include "reports/report_workbook.h"

#include <sys/stat.h>
#include <xlsxwriter.h>

#include <clocale>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

constexpr double kSecondsPerDay = 86400;
// Day 61 is 1 March 1900: before it spreadsheets count a 29 February 1900
// that never was, so earlier days are written as text.
constexpr int64_t kFirstSheetDay = 61;
constexpr size_t kDateWidth = 10;
constexpr size_t kTimeWidth = 8;

size_t Utf8Length(std::string_view s) {
    return static_cast<size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Characters of a duration shown as [h]:mm:ss.
size_t DurationWidth(int64_t seconds) {
    size_t digits = 1;
    for (int64_t hours = seconds / 3600; hours >= 10; hours /= 10)
        ++digits;
    return digits + 6;
}

// The C locale for the calling thread while it lives: the library prints its
// numbers (cell values, column widths, margins) with the thread's locale,
// which a window has set from the user's, and a Russian one writes "0,5",
// which no spreadsheet reads. Per thread, unlike setlocale().
class TCNumbers {
  public:
    TCNumbers()
        : c_(::newlocale(LC_ALL_MASK, "C", nullptr)), old_(c_ ? ::uselocale(c_) : nullptr) {}
    ~TCNumbers() {
        if (!c_) return;
        ::uselocale(old_);
        ::freelocale(c_);
    }
    TCNumbers(const TCNumbers&) = delete;
    TCNumbers& operator=(const TCNumbers&) = delete;
    bool Held() const { return c_ != nullptr; }

  private:
    locale_t c_;
    locale_t old_;
};

// Rows written against rows in all, told to the progress callback every few
// thousand rows; remembers a cancel.
class TTally {
  public:
    TTally(const TWriteProgress& progress, uint64_t total) : progress_(progress), total_(total) {}
    bool Step() {
        if (++done_ % 4096 == 0 && progress_ && !progress_(done_, total_)) cancelled_ = true;
        return !cancelled_;
    }
    bool Cancelled() const { return cancelled_; }

  private:
    const TWriteProgress& progress_;
    uint64_t total_;
    uint64_t done_ = 0;
    bool cancelled_ = false;
};

// Stands for a cancel among the library's errors.
constexpr lxw_error kCancelled = LXW_ERROR_MEMORY_MALLOC_FAILED;

struct TFormats {
    lxw_format* Bold;
    lxw_format* Date;
    lxw_format* Time;
    lxw_format* Duration;
    lxw_format* Money;
};

// Kopecks of a cost text "1178,00"; false for an empty one.
bool KopecksOf(const std::string& text, int64_t& kopecks) {
    if (text.empty()) return false;
    kopecks = 0;
    bool negative = false;
    for (const char c : text) {
        if (c == '-') negative = true;
        if (c >= '0' && c <= '9') kopecks = kopecks * 10 + (c - '0');
    }
    if (negative) kopecks = -kopecks;
    return true;
}

// One sheet being written row by row (the workbook keeps only the current
// row in memory). Remembers the first error and the widest text of each
// column.
class TSheetWriter {
  public:
    TSheetWriter(lxw_workbook* book, const TFormats& formats, const std::string& name,
                 const std::vector<std::string>& headers)
        : formats_(formats),
          sheet_(workbook_add_worksheet(book, name.c_str())),
          widths_(headers.size()) {
        if (!sheet_) {
            error_ = LXW_ERROR_MEMORY_MALLOC_FAILED;
            return;
        }
        for (size_t c = 0; c < headers.size(); ++c)
            Text(c, headers[c], formats_.Bold);
        worksheet_freeze_panes(sheet_, 1, 0);
    }

    void NextRow() { ++row_; }
    void Text(size_t column, std::string_view text, lxw_format* format = nullptr) {
        if (text.empty() || error_) return;
        Keep(worksheet_write_string(sheet_, row_, static_cast<lxw_col_t>(column),
                                    std::string(text).c_str(), format));
        Widen(column, Utf8Length(text));
    }
    void Number(size_t column, double value, lxw_format* format, size_t width) {
        if (error_) return;
        Keep(worksheet_write_number(sheet_, row_, static_cast<lxw_col_t>(column), value, format));
        Widen(column, width);
    }
    void Duration(size_t column, int64_t seconds) {
        Number(column, static_cast<double>(seconds) / kSecondsPerDay, formats_.Duration,
               DurationWidth(seconds));
    }
    // A cost as the grid shows it ("1178,00"), as a number of roubles.
    void Money(size_t column, const std::string& text) {
        int64_t kopecks = 0;
        if (KopecksOf(text, kopecks))
            Number(column, static_cast<double>(kopecks) / 100, formats_.Money, text.size());
    }

    // Sets the column widths; returns the first error of the sheet, a
    // failed write of its row store included (errno tells why).
    lxw_error Finish() {
        if (error_) return error_;
        for (size_t c = 0; c < widths_.size(); ++c)
            worksheet_set_column(sheet_, static_cast<lxw_col_t>(c), static_cast<lxw_col_t>(c),
                                 static_cast<double>(widths_[c] + 2), nullptr);
        if (sheet_->optimize_tmpfile &&
            (std::fflush(sheet_->optimize_tmpfile) != 0 || std::ferror(sheet_->optimize_tmpfile)))
            return LXW_ERROR_CREATING_TMPFILE;
        return LXW_NO_ERROR;
    }

  private:
    void Keep(lxw_error e) {
        if (e && !error_) error_ = e;
    }
    void Widen(size_t column, size_t width) { widths_[column] = std::max(widths_[column], width); }

    const TFormats& formats_;
    lxw_worksheet* sheet_;
    std::vector<size_t> widths_;
    lxw_row_t row_ = 0;
    lxw_error error_ = LXW_NO_ERROR;
};

// "Звонков" and "Стоимость" of a list's row, from column at.
void PutSum(TSheetWriter& sheet, const std::vector<std::string>& texts, size_t at) {
    sheet.Number(at, static_cast<double>(std::stoll(texts[at])), nullptr, texts[at].size());
    sheet.Money(at + 1, texts[at + 1]);
}

lxw_error WriteCalls(lxw_workbook* book, const TFormats& f, const TCallGrid& grid,
                     size_t rowsPerSheet, TTally& tally) {
    const size_t rows = grid.RowCount();
    size_t row = 0;
    for (int part = 1; part == 1 || row < rows; ++part) {
        std::string name = "Звонки";
        if (part > 1) name += " (" + std::to_string(part) + ")";
        TSheetWriter sheet(book, f, name, grid.Headers());
        const TBilling* billing = grid.Billing();
        // The office's column first, when the report covers several.
        const size_t s = grid.Sited() ? 1 : 0;
        const size_t shift = billing && billing->Named() ? 2 : 0;
        const bool priced = billing && billing->Priced();
        for (size_t written = 0; row < rows && written < rowsPerSheet; ++row) {
            const TExtStr_rep* call = grid.Record(row);
            if (!call) continue;
            if (!tally.Step()) return kCancelled;
            ++written;
            sheet.NextRow();
            if (s) sheet.Text(0, grid.SiteOf(row));
            int64_t day = 0, seconds = 0;
            SplitDayAndSeconds(call->StartTime, day, seconds);
            if (day >= kFirstSheetDay) {
                sheet.Number(s, static_cast<double>(day), f.Date, kDateWidth);
                sheet.Number(s + 1, static_cast<double>(seconds) / kSecondsPerDay, f.Time,
                             kTimeWidth);
            } else {
                const auto cells = grid.Cells(row);
                sheet.Text(s, cells[0]);
                sheet.Text(s + 1, cells[1]);
            }
            sheet.Duration(s + 2, call->DurTotalSec);
            sheet.Text(s + 3, call->HwLine);
            sheet.Text(s + 4, call->PrgLine);
            sheet.Text(s + 5 + shift, call->Trunk);
            sheet.Text(s + 6 + shift, call->ExtNumber);
            if (!shift && !priced) continue;
            const std::vector<std::string> texts = grid.Row(row);
            for (size_t c = s + 5; c < s + 5 + shift; ++c)
                sheet.Text(c, texts[c]);
            if (priced) {
                sheet.Text(s + 7 + shift, texts[s + 7 + shift]);
                sheet.Money(s + 8 + shift, texts[s + 8 + shift]);
            }
        }
        if (const lxw_error e = sheet.Finish()) return e;
    }
    return LXW_NO_ERROR;
}

lxw_error WriteLines(lxw_workbook* book, const TFormats& f, const TALGrid& grid, TTally& tally) {
    TSheetWriter sheet(book, f, "АЛ", grid.Headers());
    const TBilling* billing = grid.Billing();
    const size_t s = grid.Sited() ? 1 : 0;
    const size_t shift = billing && billing->Named() ? 2 : 0;
    const bool priced = billing && billing->Priced();
    for (size_t row = 0; row < grid.RowCount(); ++row) {
        if (!tally.Step()) return kCancelled;
        const TAL_rep& line = grid.Entry(row);
        sheet.NextRow();
        if (s) sheet.Text(0, line.Site);
        sheet.Text(s, line.HwLine);
        sheet.Text(s + 1, line.PrgLine);
        sheet.Duration(s + 2 + shift, line.OutTotalSec);
        sheet.Duration(s + 3 + shift, line.InTotalSec);
        sheet.Duration(s + 4 + shift, line.TotalSec);
        if (!shift && !priced) continue;
        const std::vector<std::string> texts = grid.Row(row);
        for (size_t c = s + 2; c < s + 2 + shift; ++c)
            sheet.Text(c, texts[c]);
        if (priced) PutSum(sheet, texts, s + 5 + shift);
    }
    return sheet.Finish();
}

lxw_error WriteTrunks(lxw_workbook* book, const TFormats& f, const TSLGrid& grid, TTally& tally) {
    TSheetWriter sheet(book, f, "СЛ", grid.Headers());
    const size_t s = grid.Sited() ? 1 : 0;
    const bool priced = grid.Billing() && grid.Billing()->Priced();
    for (size_t row = 0; row < grid.RowCount(); ++row) {
        if (!tally.Step()) return kCancelled;
        const TSL_rep& trunk = grid.Entry(row);
        sheet.NextRow();
        if (s) sheet.Text(0, trunk.Site);
        sheet.Text(s, trunk.Trunk);
        sheet.Duration(s + 1, trunk.OutTotalSec);
        sheet.Duration(s + 2, trunk.InTotalSec);
        sheet.Duration(s + 3, trunk.TotalSec);
        if (priced) PutSum(sheet, grid.Row(row), s + 4);
    }
    return sheet.Finish();
}

// The export result of a library error: the file could not be created, its
// writing failed, or anything else.
TFileStatus StatusOf(lxw_error e) {
    switch (e) {
        case LXW_ERROR_CREATING_XLSX_FILE:
            return TFileStatus::CannotOpen;
        case LXW_ERROR_CREATING_TMPFILE:
        case LXW_ERROR_READING_TMPFILE:
        case LXW_ERROR_ZIP_FILE_OPERATION:
        case LXW_ERROR_ZIP_BAD_ZIP_FILE:
        case LXW_ERROR_ZIP_INTERNAL_ERROR:
        case LXW_ERROR_ZIP_FILE_ADD:
        case LXW_ERROR_ZIP_CLOSE:
            return TFileStatus::CannotWrite;
        default:
            return TFileStatus::Failed;
    }
}

}  // namespace

TFileResult WriteWorkbook(const TCallGrid& calls, const TALGrid& lines, const TSLGrid& trunks,
                          const std::string& path, size_t rowsPerSheet,
                          const TWriteControl& control) {
    rowsPerSheet = std::clamp<size_t>(rowsPerSheet, 1, kSheetRowLimit);
    return WriteFileReplacing(
        path,
        [&](int fd, const std::string& name) -> TFileResult {
            const uint64_t total = calls.RowCount() + lines.RowCount() + trunks.RowCount();
            if (control.Progress && !control.Progress(0, total)) return {TFileStatus::Cancelled, 0};
            TTally tally(control.Progress, total);
            const TCNumbers numbers;
            if (!numbers.Held()) return {TFileStatus::Failed, errno ? errno : ENOMEM};
            // The row stores go beside a new file, not to a /tmp that may be
            // memory; they are unlinked as soon as they are made. A device
            // written in place keeps them in the system's place.
            const size_t slash = name.rfind('/');
            std::string dir = slash == std::string::npos ? "." : name.substr(0, slash + 1);
            lxw_workbook_options options{};
            options.constant_memory = LXW_TRUE;
            struct stat st {};
            if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) options.tmpdir = dir.data();
            errno = 0;
            lxw_workbook* book = workbook_new_opt(name.c_str(), &options);
            if (!book) return {TFileStatus::Failed, errno ? errno : ENOMEM};
            TFormats f{workbook_add_format(book), workbook_add_format(book),
                       workbook_add_format(book), workbook_add_format(book), nullptr};
            format_set_bold(f.Bold);
            format_set_num_format(f.Date, "dd.mm.yyyy");
            format_set_num_format(f.Time, "hh:mm:ss");
            format_set_num_format(f.Duration, "[h]:mm:ss");
            // Only with costs: a workbook without them stays as it was.
            if (calls.Billing() && calls.Billing()->Priced()) {
                f.Money = workbook_add_format(book);
                format_set_num_format(f.Money, "0.00");
            }

            lxw_error e = WriteCalls(book, f, calls, rowsPerSheet, tally);
            if (!e) e = WriteLines(book, f, lines, tally);
            if (!e) e = WriteTrunks(book, f, trunks, tally);
            int stored = errno;
            // Closing also frees the workbook, so it is closed even after
            // an error; the file is then thrown away.
            errno = 0;
            const lxw_error closed = workbook_close(book);
            if (tally.Cancelled()) return {TFileStatus::Cancelled, 0};
            if (!e) {
                e = closed;
                stored = errno;
            }
            if (!e) return {};
            return {StatusOf(e), stored ? stored : EIO};
        },
        control);
}
