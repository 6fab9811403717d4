#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "calllog/call_record.h"
#include "calllog/report_datetime.h"

namespace {

TEST(RepDate, DayCountsFromThirtiethDecember1899) {
    struct Row {
        TDateTimeParts at;
        std::optional<double> days;
    };
    const Row rows[] = {
        {{1899, 12, 30, 0, 0, 0}, 0.0},   {{1900, 1, 1, 0, 0, 0}, 2.0},
        {{1900, 1, 1, 12, 0, 0}, 2.5},    {{2007, 3, 5, 0, 0, 0}, 39146.0},
        {{1899, 12, 29, 6, 0, 0}, -1.25}, {{2007, 3, 5, 14, 2, 7}, {}},
        {{1, 1, 1, 23, 59, 59}, {}},      {{9999, 12, 31, 23, 59, 59}, {}},
    };
    // Every date reads back as it was written.
    for (const auto& [p, days] : rows) {
        const double encoded =
            EncodeRepDateTime(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second);
        EXPECT_DOUBLE_EQ(encoded, days.value_or(encoded)) << p.Year;
        const TDateTimeParts q = DecodeRepDateTime(encoded);
        EXPECT_EQ(std::vector<int>({q.Year, q.Month, q.Day, q.Hour, q.Minute, q.Second}),
                  std::vector<int>({p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second}));
    }
    EXPECT_EQ(RepTimeText(EncodeRepDateTime(2007, 3, 5, 9, 5, 7)), "09:05:07");
}

TEST(RepText, ShortAndLongTextsSurviveCopiesMovesAndSelfAssignment) {
    for (const std::string& s : {std::string(), std::string("105"), std::string(15, '7'),
                                 std::string(16, '8'), std::string(1000, '9')}) {
        TRepText t(s);
        EXPECT_EQ(t, s);
        TRepText copy = t;
        TRepText moved = std::move(copy);
        EXPECT_EQ(moved, s);
        EXPECT_TRUE(copy.empty());                       // NOLINT: a moved-from text is empty
        moved = moved.view().substr(s.empty() ? 0 : 1);  // from its own bytes
        EXPECT_EQ(moved, s.substr(s.empty() ? 0 : 1));
        moved = t;
        moved = std::move(moved);
        EXPECT_EQ(moved.size(), s.size());
        EXPECT_EQ(moved.data()[s.size()], '\0');
    }
}

TEST(RepText, ShortTextsKeepSevenBytesInPlaceAndLongerOnesWhole) {
    for (const std::string& s : {std::string(), std::string("81"), std::string(7, '7'),
                                 std::string(8, '8'), std::string(300, '9')}) {
        TRepShortText t(s);
        TRepShortText moved = TRepShortText(t);
        EXPECT_EQ(moved, s);
        moved = moved.view().substr(s.empty() ? 0 : 1);  // from its own bytes
        EXPECT_EQ(moved, s.substr(s.empty() ? 0 : 1));
        t = std::move(moved);
        EXPECT_EQ(t.size(), s.size() - (s.empty() ? 0 : 1));
        EXPECT_EQ(t.data()[t.size()], '\0');
        EXPECT_TRUE(moved.empty());  // NOLINT: a moved-from text is empty
    }
}

}  // namespace
