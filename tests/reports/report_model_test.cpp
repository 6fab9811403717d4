#include <gtest/gtest.h>

#include <cerrno>
#include <random>
#include <string>
#include <tuple>
#include <variant>
#include <vector>

#include "reports/report_model.h"
#include "reports/report_sort.h"
#include "tests/common/test_support.h"
#include "tests/reports/call_line.h"

using namespace testing_support;

namespace {

std::string Join(const std::vector<std::string>& parts) {
    std::string s;
    for (const std::string& p : parts)
        s += p + "\r\n";
    return s;
}

template <class List, class Key>
std::vector<std::string> Keys(const List& list, Key key) {
    std::vector<std::string> out;
    for (const auto* e : list)
        out.push_back(key(*e));
    return out;
}

std::vector<std::string> HwKeys(const TReportModel& m) {
    return Keys(m.ALList(), [](const TAL_rep& e) { return e.HwLine; });
}
std::vector<std::string> TrunkKeys(const TReportModel& m) {
    return Keys(m.SLList(), [](const TSL_rep& e) { return e.Trunk; });
}

TEST(BuildLists, EntriesInOrderOfFirstCallWithTheirTraffic) {
    // Written out by hand as the reading writes them.
    const std::string blank21(21, ' ');
    TReportModel m;
    m.LoadText(Join({
        "05-03-2007 14:02:07   00:00:50   12( 121)       3     5551234              ",
        // Internal: no trunk, incoming.
        "05-03-2007 14:02:07   00:00:20   123( 301)            " + blank21,
        // A later programmed number is ignored.
        "05-03-2007 14:02:07   00:00:20   12( 999)       3     " + blank21,
        "05-03-2007 14:02:07   00:59:30   112(    )       1     " + blank21,
        "05-03-2007 14:02:07   00:00:45   112(    )            " + blank21,
        "05-03-2007 14:02:07   01:00:00   12( 121)       1     8                    ",
    }));
    m.BuildLists();
    EXPECT_EQ(HwKeys(m), (std::vector<std::string>{"12", "123", "112"}));
    EXPECT_EQ(TrunkKeys(m), (std::vector<std::string>{"3", "", "1"}));

    const TAL_rep* a = m.FindAL("12");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->PrgLine, "121");
    EXPECT_EQ(TrafficText(a->OutHour, a->OutMin(), a->OutSec()), "01:00:50");
    EXPECT_EQ(TrafficText(a->InHour, a->InMin(), a->InSec()), "00:00:20");
    EXPECT_EQ(a->OutTotalSec, 3650);
    EXPECT_EQ(a->InTotalSec, 20);
    EXPECT_EQ(a->TotalSec, 3670);

    // "12" is not "112" or "123": a short hardware number is its own line.
    const TAL_rep* b = m.FindAL("112");
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->PrgLine, "");
    EXPECT_EQ(TrafficText(b->InHour, b->InMin(), b->InSec()), "01:00:15");
    EXPECT_EQ(b->InTotalSec, 3615);
    EXPECT_EQ(b->OutTotalSec, 0);
    EXPECT_EQ(m.FindAL("1"), nullptr);

    const TSL_rep* empty = m.FindSL("");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->InTotalSec, 65);
    const TSL_rep* one = m.FindSL("1");
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->InTotalSec, 3570);
    EXPECT_EQ(one->OutTotalSec, 3600);
}

TEST(BuildLists, EmptyLinesGiveEmptyListsAndRebuildReplaces) {
    TReportModel m;
    m.LoadText(Join({CallLine(1, "101", "A", "1")}));
    m.BuildLists();
    EXPECT_EQ(m.SLList().Count(), 1u);
    EXPECT_EQ(m.FindSL("a"), nullptr);  // no case folding in look-ups
    EXPECT_NE(m.FindSL("A"), nullptr);
    m.LoadText("");
    m.BuildLists();
    EXPECT_EQ(m.ALList().Count(), 0u);
    EXPECT_EQ(m.SLList().Count(), 0u);
    EXPECT_EQ(m.FindAL("1"), nullptr);
    EXPECT_EQ(m.FindSL("A"), nullptr);
}

TEST(BuildLists, LookUpsAgreeWithAFrontToBackScanAfterSorting) {
    TCallGenerator gen(3);
    std::vector<std::string> lines;
    for (int i = 0; i < 2000; ++i)
        lines.push_back(FormatStandardLine(gen.Next()));
    TReportModel m;
    m.LoadText(Join(lines));
    m.BuildLists();
    m.SortALList(TALSortKey::TotalTraffic);
    m.SortSLList(TSLSortKey::Trunk);
    for (const TExtStr_rep* line : m.LineList()) {
        const TAL_rep* scanned = nullptr;
        for (const TAL_rep* e : m.ALList())
            if (e->HwLine == line->HwLine) {
                scanned = e;
                break;
            }
        EXPECT_EQ(m.FindAL(line->HwLine), scanned);
        const TSL_rep* scannedSL = nullptr;
        for (const TSL_rep* e : m.SLList())
            if (e->Trunk == line->Trunk) {
                scannedSL = e;
                break;
            }
        EXPECT_EQ(m.FindSL(line->Trunk), scannedSL);
    }
    // Every call is counted exactly once in each list.
    int64_t al = 0, sl = 0, all = 0;
    for (const TAL_rep* e : m.ALList())
        al += e->TotalSec;
    for (const TSL_rep* e : m.SLList())
        sl += e->TotalSec;
    for (const TExtStr_rep* l : m.LineList())
        all += l->DurTotalSec;
    EXPECT_EQ(al, all);
    EXPECT_EQ(sl, all);
}

TEST(SortKeys, NumbersFirstThenOtherTextsInTextOrder) {
    std::vector<std::string> keys = {"10",  "x", "9",          "",   "-3",
                                     "abc", "1", "2147483648", "+4", "09"};
    std::stable_sort(keys.begin(), keys.end(), [](const std::string& a, const std::string& b) {
        return NumberTextLess(a, b, false);
    });
    EXPECT_EQ(keys, (std::vector<std::string>{"-3", "1", "+4", "9", "09", "10", "", "2147483648",
                                              "abc", "x"}));
    // With the flag an empty text counts as 0.
    const std::tuple<const char*, const char*, bool> less[] = {
        {"", "0", false}, {"0", "", false}, {"", "1", true}, {"-1", "", true}};
    for (const auto& [a, b, isLess] : less)
        EXPECT_EQ(NumberTextLess(a, b, true), isLess) << "[" << a << "] [" << b << "]";
}

TEST(SortKeys, TrunkTextIgnoresLatinCaseOnly) {
    const std::tuple<const char*, const char*, int> rows[] = {
        {"1", "10", -1},
        {"10", "9", -1},
        {"abc", "ABC", 0},
        // Letters compare as capitals: "_" (0x5F) comes after "A" (0x41).
        {"a", "_", -1},
        {"B", "_", -1},
        {"Т", "т", -1},  // Cyrillic keeps its case: D0 A2 before D1 82
    };
    for (const auto& [a, b, sign] : rows) {
        const int c = CompareTrunkText(a, b);
        EXPECT_EQ((c > 0) - (c < 0), sign) << a << " " << b;
    }
}

// Orders of the traffic and number sorts must equal what the exchange sort
// (adjacent swaps only when the first key is strictly greater) gives.
template <class T, class Key>
std::vector<const T*> ExchangeSorted(std::vector<const T*> v, Key greater) {
    for (size_t pass = 0; pass < v.size(); ++pass)
        for (size_t i = 0; i + 1 < v.size(); ++i)
            if (greater(*v[i], *v[i + 1])) std::swap(v[i], v[i + 1]);
    return v;
}

TEST(Sorts, EqualToTheExchangeSortOnRandomLists) {
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::string> lines;
        for (int i = 0; i < 300; ++i) {
            // Few distinct durations and keys, so that ties are common.
            const int hw = static_cast<int>(rng() % 40) + 1;
            const std::string prg = rng() % 5 ? std::to_string(rng() % 30) : "-1";
            const std::string trunk = std::to_string(rng() % 25);
            const std::string dial = rng() % 2 ? "" : "5";
            lines.push_back(CallLine(hw, prg, trunk, dial, 0, static_cast<int>(rng() % 2),
                                     static_cast<int>(rng() % 2) * 30));
        }
        TReportModel m;
        m.LoadText(Join(lines));
        m.BuildLists();
        // Traffic keys of both lists; number keys have their own tests.
        const std::pair<int, int64_t TTraffic_rep::*> keys[] = {{0, &TTraffic_rep::OutTotalSec},
                                                                {1, &TTraffic_rep::InTotalSec},
                                                                {2, &TTraffic_rep::TotalSec}};
        const TALSortKey alKeys[] = {TALSortKey::OutTraffic, TALSortKey::InTraffic,
                                     TALSortKey::TotalTraffic};
        const TSLSortKey slKeys[] = {TSLSortKey::OutTraffic, TSLSortKey::InTraffic,
                                     TSLSortKey::TotalTraffic};
        for (const auto& [i, field] : keys) {
            const auto greater = [f = field](const TTraffic_rep& a, const TTraffic_rep& b) {
                return a.*f > b.*f;
            };
            const std::vector<const TAL_rep*> al(m.ALList().begin(), m.ALList().end());
            m.SortALList(alKeys[i]);
            EXPECT_EQ(std::vector<const TAL_rep*>(m.ALList().begin(), m.ALList().end()),
                      ExchangeSorted(al, greater));
            const std::vector<const TSL_rep*> sl(m.SLList().begin(), m.SLList().end());
            m.SortSLList(slKeys[i]);
            EXPECT_EQ(std::vector<const TSL_rep*>(m.SLList().begin(), m.SLList().end()),
                      ExchangeSorted(sl, greater));
        }
    }
}

// Each row: the calls, the sorts made one after the other, and the keys of
// the list sorted last, in order.
TEST(Sorts, NumbersAndTextsOfTheKeys) {
    std::string odd = CallLine(123, "1", "1", "1");
    odd.replace(33, 4, "1a2(");  // hardware number "1a2"
    const std::vector<std::string> lines = {
        odd, CallLine(20, "1", "1", "1"), CallLine(3, "7", "1", "1"), CallLine(100, "", "1", "1")};
    const std::vector<std::string> trunks = {
        CallLine(1, "1", "9", "1"), CallLine(1, "1", "10", "1"), CallLine(1, "1", "1", "1"),
        CallLine(1, "1", "b", "1"), CallLine(1, "1", "A", "1")};
    using TSorts = std::vector<std::variant<TALSortKey, TSLSortKey>>;
    struct Row {
        std::vector<std::string> calls;
        TSorts sorts;
        std::vector<std::string> keys;
    };
    const Row rows[] = {
        // Trunk numbers as text.
        {trunks, {TSLSortKey::Trunk}, {"1", "10", "9", "A", "b"}},
        // Hardware numbers that are not numbers go last.
        {lines, {TALSortKey::HwLine}, {"3", "20", "100", "1a2"}},
        // Sorting a sorted list changes nothing.
        {lines, {TALSortKey::HwLine, TALSortKey::HwLine}, {"3", "20", "100", "1a2"}},
        // An empty programmed number counts as 0.
        {lines, {TALSortKey::HwLine, TALSortKey::PrgLine}, {"100", "20", "1a2", "3"}},
    };
    for (const Row& r : rows) {
        TReportModel m;
        m.LoadText(Join(r.calls));
        m.BuildLists();
        for (const auto& key : r.sorts) {
            if (const auto* al = std::get_if<TALSortKey>(&key)) m.SortALList(*al);
            if (const auto* sl = std::get_if<TSLSortKey>(&key)) m.SortSLList(*sl);
        }
        const bool byTrunk = std::holds_alternative<TSLSortKey>(r.sorts.back());
        EXPECT_EQ(byTrunk ? TrunkKeys(m) : HwKeys(m), r.keys) << r.keys.front();
    }
}

TEST(Query, SelectionRules) {
    TReportModel m;
    m.LoadText(Join({
        CallLine(101, "201", "1", "8"),     // 0
        CallLine(101, "201", "1", "8123"),  // 1
        CallLine(102, "202", "1", "78"),    // 2
        CallLine(102, "201", "1", "5800"),  // 3
        CallLine(123, "12", "1", ""),       // 4 incoming
        CallLine(12, "123", "1", "812"),    // 5
    }));
    struct {
        std::string number, prefix;
        bool byProgrammed;
        std::vector<int> rows;
    } cases[] = {
        {"", "", true, {0, 1, 2, 3, 4, 5}},
        {"", "8", true, {0, 1, 5}},
        {"", "58", true, {3}},
        {"", "9", true, {}},
        {"201", "", true, {0, 1, 3}},
        {" 201", "", true, {0, 1, 3}},
        {"20 1", "", true, {0, 1, 3}},
        {"201", "8", true, {0, 1}},
        {"12", "", true, {4}},
        {"123", "", true, {5}},
        {"123", "", false, {4}},
        {"12", "", false, {5}},
        {"12", "8", false, {5}},
        {"12", "81", false, {5}},
        {"12", "82", false, {}},
        {"5", "", false, {}},
        {"    ", "", false, {0, 1, 2, 3, 4, 5}},
    };
    for (const auto& c : cases) {
        std::vector<int> rows;
        for (const TExtStr_rep* l : SelectLines(m.LineList(), c.number, c.prefix, c.byProgrammed))
            for (size_t i = 0; i < m.LineList().Count(); ++i)
                if (&m.LineList()[i] == l) rows.push_back(static_cast<int>(i));
        EXPECT_EQ(rows, c.rows) << "[" << c.number << "] [" << c.prefix << "] " << c.byProgrammed;
    }
    EXPECT_TRUE(SelectLines(TStrList_rep<TExtStr_rep>(), "", "", true).empty());
}

// A file the model loads: its lines, or why nothing changed.
TEST(LineSplitting, TitleOnlyFileCountsTwoLines) {
    TReportModel model;
    model.LoadText(TitleLine(2007, 3, 5, 9, 7, 3) + "\r\n" + ColumnLine() + "\r\n");
    EXPECT_EQ(model.LineCountCaption(), "Кол-во строк: 2");
    EXPECT_EQ(model.LineList().Count(), 0u);
    model.BuildLists();
    EXPECT_EQ(model.ALList().Count(), 0u);
    EXPECT_EQ(model.SLList().Count(), 0u);
}

TEST(FileReader, UnreadableFileLeavesTheModelAsItWas) {
    TTempDir dir;
    TReportModel model;
    model.LoadText(CallLine(123, "121", "200", "5551234"));
    model.BuildLists();
    const std::pair<std::string, int> unreadable[] = {
        {dir.File("missing.txt"), ENOENT}, {dir.Path(), EISDIR}, {"/dev/zero", EINVAL}};
    for (const auto& [path, error] : unreadable)  // /dev/zero would never end
        EXPECT_EQ(model.LoadFile(path), (TFileResult{TFileStatus::CannotOpen, error})) << path;
    EXPECT_EQ(model.LineCount(), 1u);
    EXPECT_EQ(model.LineList().Count(), 1u);
    EXPECT_EQ(model.ALList().Count(), 1u);

    WriteFile(dir.File("empty.txt"), "");
    EXPECT_TRUE(model.LoadFile(dir.File("empty.txt")).Ok());
    EXPECT_EQ(model.LineCountCaption(), "Кол-во строк: 0");
    EXPECT_EQ(model.LineList().Count(), 0u);
}

}  // namespace
