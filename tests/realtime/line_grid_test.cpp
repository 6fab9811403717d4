// The grid's layout by model and the lines a set of connections marks.
#include <gtest/gtest.h>

#include "realtime/line_grid.h"

namespace {

TEST(LineGrid, CellsOfTheLinesWithinTheGrid) {
    int c = 0, r = 0;
    ASSERT_TRUE(CellOfLine(GridShapeFor("QTV610"), 319, c, r));
    EXPECT_EQ(std::make_pair(c, r), std::make_pair(12, 10));
    EXPECT_FALSE(CellOfLine(GridShapeFor("QTV610"), 320, c, r));
    EXPECT_TRUE(CellOfLine(GridShapeFor("QTV930-1"), 349, c, r));
    EXPECT_FALSE(CellOfLine(GridShapeFor("QTV930-1"), 199, c, r));
}

TEST(LineGrid, SubscriberLinesInAConnectionAreMarkedWithTheirPartners) {
    const std::vector<TConnection> connections = {
        {{0x44, 205, 0}, {0x46, 204, 1}},  // a line on a trunk
        {{0x44, 211, 2}, {0x44, 230, 0}},  // an internal call
        {{0x44, 240, 0}},                  // a handset off the hook
        {{0x46, 206, 0}, {0x44, -1, 0}},   // a line the model cannot number
    };
    const std::map<int, std::string> expected = {
        {205, "СЛ204(1)"}, {211, "АЛ230(0)"}, {230, "АЛ211(2)"}, {240, "трубка снята"}};
    EXPECT_EQ(ConnectedLines(connections), expected);
}

// A grid of 413 x 186 on a screen of 1280 x 1024 below a 24-pixel panel.
TEST(LineGrid, PlacedBesideTheMonitorOnItsScreen) {
    const QSize grid(413, 186);
    const QRect screen(0, 24, 1280, 1000);
    EXPECT_EQ(GridPosition({100, 200, 640, 420}, grid, screen), QPoint(740, 200));  // right
    EXPECT_EQ(GridPosition({600, 200, 640, 420}, grid, screen), QPoint(187, 200));  // left
    EXPECT_EQ(GridPosition({300, 50, 900, 420}, grid, screen), QPoint(867, 50));    // no room
    EXPECT_EQ(GridPosition({0, 900, 640, 420}, grid, screen), QPoint(640, 838));    // raised
}

}  // namespace
