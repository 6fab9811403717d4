#include "base/calendar.h"

#include <gtest/gtest.h>

namespace {

struct TDateRow {
    int y, m, d;
    int64_t days;  // from 1970-01-01
};

TEST(Calendar, DaysFromCivilAndBack) {
    const TDateRow
        rows[] =
            {
                {1970, 1, 1, 0},      {1899, 12, 30, -25569}, {1980, 1, 1, 3652},
                {2000, 2, 29, 11016}, {2000, 3, 1, 11017},    {2024, 1, 1, 19723},
                {0, 1, 1, -719528},  // before 1 March of year 0: the previous 400-year era
            };
    for (const TDateRow& r : rows) {
        EXPECT_EQ(DaysFromCivil(r.y, r.m, r.d), r.days) << r.y << "-" << r.m << "-" << r.d;
        int y = 0, m = 0, d = 0;
        CivilFromDays(r.days, y, m, d);
        EXPECT_EQ(y * 10000 + m * 100 + d, r.y * 10000 + r.m * 100 + r.d) << r.days;
    }
}

TEST(Calendar, DaysInMonth) {
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(2023, 2), 28);
    EXPECT_EQ(DaysInMonth(2023, 4), 30);
    EXPECT_EQ(DaysInMonth(2023, 12), 31);
    EXPECT_EQ(DaysInMonth(2023, 13), 0);
}

}  // namespace
