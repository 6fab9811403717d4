// The spreadsheet exports: CSV bytes, and the workbook read back from its
// zip archive.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/cp1251.h"
#include "reports/report_session.h"
#include "reports/report_sheets.h"
#include "reports/report_workbook.h"
#include "tests/common/test_support.h"
#include "tests/reports/report_sample.h"

using namespace testing_support;

namespace {

const char kBom[] = "\xEF\xBB\xBF";

std::string Dotted(int y, int m, int d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", d, m, y);
    return buf;
}

// Two calls with fields a spreadsheet must not split or lose: a ';' in a
// trunk, a quote in a dialled number, a Cyrillic trunk, a hardware number
// with a leading zero and an incoming call without a dialled number.
std::string AwkwardCalls() {
    return Utf8ToCp1251(
        "05-03-2007 14:02:07   00:01:35   105( 201)       3;1   1234\"5   \r\n"
        "06-03-2007 00:00:10   23:59:59   012( 202)       Т1              \r\n");
}

struct TCell {
    std::string Style, Type, Value;
};

// The value of attribute name in an XML start tag; empty when absent.
std::string Attr(std::string_view tag, const std::string& name) {
    const size_t at = tag.find(" " + name + "=\"");
    if (at == std::string_view::npos) return {};
    const size_t begin = at + name.size() + 3;
    return std::string(tag.substr(begin, tag.find('"', begin) - begin));
}

// Each start tag of element name ("<c ") in xml, between from and to.
std::vector<std::string_view> Tags(std::string_view xml, const std::string& name,
                                   std::string_view from = "", std::string_view to = "") {
    std::vector<std::string_view> tags;
    const size_t start = from.empty() ? 0 : xml.find(from);
    const size_t stop = to.empty() ? xml.size() : xml.find(to);
    for (size_t at = xml.find(name, start); at < stop; at = xml.find(name, at + 1))
        tags.push_back(xml.substr(at, xml.find('>', at) + 1 - at));
    return tags;
}

// The cells of a sheet by reference ("B2"): style index, type and the
// value, or the text of an inline string.
std::map<std::string, TCell> Cells(const std::string& xml) {
    std::map<std::string, TCell> cells;
    for (std::string_view tag : Tags(xml, "<c ")) {
        const size_t after = static_cast<size_t>(tag.data() - xml.data()) + tag.size();
        size_t begin = xml.compare(after, 3, "<v>") == 0 ? after + 3 : xml.find('>', after + 6) + 1;
        const std::string value = xml.substr(begin, xml.find('<', begin) - begin);
        cells[Attr(tag, "r")] = {Attr(tag, "s"), Attr(tag, "t"), value};
    }
    return cells;
}

// The number format of each cell style, bold styles marked "bold".
std::vector<std::string> StyleFormats(const std::string& styles) {
    std::map<std::string, std::string> codes = {{"0", "General"}};
    for (std::string_view tag : Tags(styles, "<numFmt "))
        codes[Attr(tag, "numFmtId")] = Attr(tag, "formatCode");
    std::vector<std::string> formats;
    for (std::string_view tag : Tags(styles, "<xf ", "<cellXfs", "</cellXfs>"))
        formats.push_back(Attr(tag, "fontId") == "1" ? "bold" : codes[Attr(tag, "numFmtId")]);
    return formats;
}

// Seconds of a day-fraction value, rounded.
long long Seconds(const std::string& value) {
    return std::llround(std::stod(value) * 86400);
}

struct ReportSheets : testing::Test {
    TTempDir dir;
    TReportSession session{Dotted};
    std::string book = dir.File("book.xlsx");
    void Load(const std::string& bytes) {
        WriteFile(dir.File("calls.txt"), bytes);
        ASSERT_TRUE(session.Load(dir.File("calls.txt")).Ok());
    }
    std::string Csv(TExportKind kind) {
        const std::string out = dir.File("out.csv");
        EXPECT_TRUE(session.Export(kind, out).Ok());
        return ReadFile(out);
    }
    TFileResult Book(size_t rowsPerSheet = kSheetRowLimit) {
        return WriteWorkbook(session.CallGrid(), session.ALGrid(), session.SLGrid(), book,
                             rowsPerSheet);
    }
};

TEST_F(ReportSheets, CsvKeepsAwkwardFieldsWhole) {
    Load(AwkwardCalls());
    const std::string callsHeader =
        "Дата;Время;Длительность;Апп. АЛ;Прг. АЛ;Номер СЛ;Внешний номер\r\n";
    const std::pair<TExportKind, std::string> rows[] = {
        {TExportKind::CallsCsv, callsHeader +
                                    "05.03.2007;14:02:07;00:01:35;105;201;\"3;1\";\"1234\"\"5\"\r\n"
                                    "06.03.2007;00:00:10;23:59:59;012;202;Т1;\r\n"},
        {TExportKind::LinesCsv,
         "Апп. АЛ;Прг. АЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
         "105;201;00:01:35;00:00:00;00:01:35\r\n"
         "012;202;00:00:00;23:59:59;23:59:59\r\n"},
        {TExportKind::TrunksCsv,
         "Апп. СЛ;Исх. трафик;Вх. трафик;Общий трафик\r\n"
         "\"3;1\";00:01:35;00:00:00;00:01:35\r\n"
         "Т1;00:00:00;23:59:59;23:59:59\r\n"},
    };
    for (const auto& [kind, csv] : rows)
        EXPECT_EQ(Csv(kind), kBom + csv);
    std::string record;
    AppendCsvField(record, "a\r\nb");
    EXPECT_EQ(record, "\"a\r\nb\"");

    // A query that selects nothing: the grid's empty row is no call.
    session.Query("999", "", true);
    EXPECT_EQ(Csv(TExportKind::CallsCsv), kBom + callsHeader);
}

TEST_F(ReportSheets, CsvDatesIgnoreTheGridsDateFormat) {
    // Dates in the order of en_US.
    TReportSession american{[](int y, int m, int d) {
        return std::to_string(m) + "/" + std::to_string(d) + "/" + std::to_string(y);
    }};
    WriteFile(dir.File("calls.txt"), AwkwardCalls());
    ASSERT_TRUE(american.Load(dir.File("calls.txt")).Ok());
    EXPECT_EQ(american.CallGrid().Cells(0)[0], "3/5/2007");
    const std::string out = dir.File("out.csv");
    ASSERT_TRUE(american.Export(TExportKind::CallsCsv, out).Ok());
    const std::string csv = ReadFile(out);
    EXPECT_NE(csv.find("\r\n05.03.2007;14:02:07;"), std::string::npos) << csv;
    EXPECT_NE(csv.find("\r\n06.03.2007;00:00:10;"), std::string::npos) << csv;
}

TEST_F(ReportSheets, WorkbookHoldsDateDurationAndTextCells) {
    Load(ReportSampleFile() + AwkwardCalls());
    session.SortAL(TALSortKey::TotalTraffic);
    ASSERT_TRUE(Book().Ok());
    EXPECT_NE(ZipMember(book, "xl/workbook.xml")
                  .find(R"(<sheet name="Звонки" sheetId="1" r:id="rId1"/>)"
                        R"(<sheet name="АЛ" sheetId="2" r:id="rId2"/>)"
                        R"(<sheet name="СЛ" sheetId="3" r:id="rId3"/>)"),
              std::string::npos);
    const std::vector<std::string> formats = StyleFormats(ZipMember(book, "xl/styles.xml"));
    const auto format = [&formats](const TCell& c) {
        const size_t style = c.Style.empty() ? 0 : std::stoul(c.Style);
        return style < formats.size() ? formats[style] : "?";
    };

    const std::string callsXml = ZipMember(book, "xl/worksheets/sheet1.xml");
    EXPECT_NE(callsXml.find(R"(<pane ySplit="1" topLeftCell="A2" activePane="bottomLeft" )"
                            R"(state="frozen"/>)"),
              std::string::npos);
    auto calls = Cells(callsXml);
    EXPECT_EQ(format(calls["A1"]), "bold");
    EXPECT_EQ(calls["G1"].Value, "Внешний номер");
    struct Row {
        const char* cell;
        const char* format;
        const char* type;
        std::string value;  // text, or seconds of a time or duration
    };
    const Row callRows[] = {
        {"A2", "dd.mm.yyyy", "", "39146"},  // 5 March 2007
        {"B2", "hh:mm:ss", "", "50527"},    // 14:02:07
        {"C2", "[h]:mm:ss", "", "95"},      // 00:01:35
        {"D2", "General", "inlineStr", "105"},  {"G2", "General", "inlineStr", "1234567"},
        {"B4", "hh:mm:ss", "", "10"},  // the call past midnight
        {"A4", "dd.mm.yyyy", "", "39147"},      {"D11", "General", "inlineStr", "105"},
        {"F11", "General", "inlineStr", "3;1"}, {"G11", "General", "inlineStr", "1234\"5"},
        {"D12", "General", "inlineStr", "012"}, {"F12", "General", "inlineStr", "Т1"},
    };
    for (const Row& r : callRows) {
        const TCell& c = calls[r.cell];
        EXPECT_EQ(format(c), r.format) << r.cell;
        EXPECT_EQ(c.Type, r.type) << r.cell;
        const bool seconds = std::string(r.format).find(':') != std::string::npos;
        EXPECT_EQ(seconds ? std::to_string(Seconds(c.Value)) : c.Value, r.value) << r.cell;
    }
    EXPECT_EQ(calls.count("G4"), 0u);  // incoming: no dialled number
    EXPECT_EQ(calls.count("A13"), 0u);

    // Subscriber lines by total traffic: 7, 012 (23:59:59), then 105 with
    // 120:03:05 out, 23:59:59 in and 144:03:04 in all.
    auto lines = Cells(ZipMember(book, "xl/worksheets/sheet2.xml"));
    EXPECT_EQ(lines["A3"].Value, "012");
    EXPECT_EQ(lines["A3"].Type, "inlineStr");
    EXPECT_EQ(lines["A4"].Value, "105");
    EXPECT_EQ(format(lines["C4"]), "[h]:mm:ss");
    EXPECT_EQ(Seconds(lines["C4"].Value), 120 * 3600 + 185);
    EXPECT_EQ(Seconds(lines["D4"].Value), 86399);
    EXPECT_EQ(Seconds(lines["E4"].Value), 144 * 3600 + 184);
    auto trunks = Cells(ZipMember(book, "xl/worksheets/sheet3.xml"));
    EXPECT_EQ(trunks["A2"].Value, "3");
    EXPECT_EQ(Seconds(trunks["B2"].Value), 48 * 3600 + 93);
}

TEST_F(ReportSheets, CallsPastASheetsRowsGoOnInTheNextSheet) {
    Load(ReportSampleFile() + AwkwardCalls());  // 11 calls
    ASSERT_TRUE(Book(4).Ok());
    EXPECT_NE(ZipMember(book, "xl/workbook.xml")
                  .find(R"x(<sheet name="Звонки (3)" sheetId="3" r:id="rId3"/>)x"
                        R"(<sheet name="АЛ" sheetId="4")"),
              std::string::npos);
    auto third = Cells(ZipMember(book, "xl/worksheets/sheet3.xml"));
    EXPECT_EQ(third["A1"].Value, "Дата");
    EXPECT_EQ(third["D4"].Value, "012");
    EXPECT_EQ(third.count("A5"), 0u);
}

TEST_F(ReportSheets, WorkbookBytesIgnoreTheLocale) {
    Load(ReportSampleFile());
    ASSERT_TRUE(Book().Ok());
    const std::string inC = ZipMember(book, "xl/worksheets/sheet2.xml");
    const std::string was = std::setlocale(LC_ALL, nullptr);
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8")) GTEST_SKIP() << "no ru_RU.UTF-8 locale";
    const TFileResult result = Book();
    std::setlocale(LC_ALL, was.c_str());
    ASSERT_TRUE(result.Ok());
    const std::string inRu = ZipMember(book, "xl/worksheets/sheet2.xml");
    EXPECT_NE(inRu.find(R"(<c r="E2" s="4"><v>6.001030092592592</v>)"), std::string::npos);
    EXPECT_NE(inRu.find(R"(width="14.7109375")"), std::string::npos);
    EXPECT_EQ(inRu, inC);
}

// A file system that fills up (the file size limit fails the write) or a
// cancel: the earlier file stays, and nothing is left beside it.
TEST_F(ReportSheets, AFailedOrCancelledSaveLeavesTheEarlierFileAndNothingBeside) {
    Load(ReportSampleFile());
    std::signal(SIGXFSZ, SIG_IGN);
    struct Row {
        TExportKind kind;
        bool cancel;
        TFileResult result;
    };
    const Row rows[] = {
        {TExportKind::Workbook, false, {TFileStatus::CannotWrite, EFBIG}},
        {TExportKind::CallsCsv, false, {TFileStatus::CannotWrite, EFBIG}},
        {TExportKind::Workbook, true, {TFileStatus::Cancelled, 0}},
        {TExportKind::CallsCsv, true, {TFileStatus::Cancelled, 0}},
        {TExportKind::Calls, true, {TFileStatus::Cancelled, 0}},
    };
    const std::string out = dir.File("out");
    for (const Row& r : rows) {
        WriteFile(out, "earlier");
        TExportOptions options;
        if (r.cancel) options.Progress = [](uint64_t, uint64_t) { return false; };
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        rlimit small = old;
        small.rlim_cur = r.cancel ? old.rlim_cur : 200;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const TFileResult result = session.Export(r.kind, out, options);
        setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_EQ(result, r.result) << static_cast<int>(r.kind);
        EXPECT_EQ(ReadFile(out), "earlier");
        const auto entries = std::filesystem::directory_iterator(dir.Path());
        EXPECT_EQ(std::distance(begin(entries), end(entries)), 2);  // with calls.txt
    }
}

}  // namespace
