#include "map/map_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace hygro {
namespace {

// Stands in for the font: 6 px per character, 12 px high.
void FakeMeasure(const std::string& name, int& w, int& h) {
    w = 6 * static_cast<int>(name.size());
    h = 12;
}

TEST(CreateArea, CentredTruncatedAndKeptInsideTheMap) {
    const struct {
        const char* what;
        double x, y;
        int w, h, mapW, mapH;
        BoxRect box;
    } cases[] = {
        {"top-left corner", 0.0, 0.0, 30, 12, 300, 600, {0, 0, 32, 14}},
        {"bottom-right corner", 1.0, 1.0, 30, 12, 300, 600, {268, 586, 300, 600}},
        {"centre", 0.5, 0.5, 30, 12, 300, 600, {133, 292, 165, 306}},
        // 0.333 × 300 − 15 − 2 = 82.9 truncates to 82; an odd width halves downwards.
        {"truncation", 0.333, 0.1, 31, 13, 300, 600, {82, 52, 115, 67}},
        {"negative position", -3.0, -0.5, 30, 12, 300, 600, {0, 0, 32, 14}},
        {"far outside", 50.0, 1e300, 30, 12, 300, 600, {268, 586, 300, 600}},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::quiet_NaN(), 30,
         12, 300, 600, {0, 0, 32, 14}},
        {"box wider than the map", 0.5, 0.5, 100, 12, 50, 600, {-52, 292, 50, 306}},
        {"empty map", 0.5, 0.5, 30, 12, 0, 0, {-32, -14, 0, 0}},
    };
    for (const auto& tc : cases) EXPECT_EQ(CreateArea(tc.x, tc.y, tc.w, tc.h, tc.mapW, tc.mapH), tc.box) << tc.what;
}

class MapBoxesTest : public ::testing::Test {
  protected:
    MapBoxesTest() : boxes(FakeMeasure) { boxes.SetMapSize(300, 600); }
    const BoxRect& AreaOf(int i) const { return boxes.Boxes().at(static_cast<std::size_t>(i)).area; }
    MapBoxes boxes;
};

TEST_F(MapBoxesTest, CornersOfTheMap) {
    boxes.AddDev(0, "Cellar", 0.0, 0.0, 1, 2, 3);
    boxes.AddDev(1, "Attic", 1.0, 1.0, 4, 5, 6);
    EXPECT_EQ(AreaOf(0).left, 0);
    EXPECT_EQ(AreaOf(0).top, 0);
    EXPECT_EQ(AreaOf(0).right, 6 * 6 + 2);
    EXPECT_EQ(AreaOf(1).right, 300);
    EXPECT_EQ(AreaOf(1).bottom, 600);
    EXPECT_EQ(AreaOf(1).left, 300 - 5 * 6 - 2);
}

TEST_F(MapBoxesTest, ResizingRecomputesEveryAreaFromTheFractions) {
    for (double x : {0.1, 0.25, 0.5, 0.8}) boxes.AddDev(99, "Room", x, 0.5, 0, 0, 0);
    std::vector<double> before;
    for (const auto& b : boxes.Boxes()) before.push_back((b.area.left + b.area.right) / 2.0);
    boxes.SetMapSize(600, 600);
    for (std::size_t i = 0; i < before.size(); ++i) {
        const auto& a = boxes.Boxes()[i].area;
        EXPECT_NEAR((a.left + a.right) / 2.0, 2 * before[i], 2.0) << i;
        EXPECT_EQ(a.right - a.left, 4 * 6 + 2);
    }
    boxes.SetMapSize(20, 600); // too narrow: the boxes still end at the map's edge
    for (const auto& b : boxes.Boxes()) EXPECT_LE(b.area.right, 20);
}

TEST_F(MapBoxesTest, AddInsertsAtIndexOrAppends) {
    boxes.AddDev(0, "A", 0.1, 0.1, 0, 0, 0);
    boxes.AddDev(5, "C", 0.3, 0.3, 0, 0, 0);  // past the end
    boxes.AddDev(-1, "D", 0.4, 0.4, 0, 0, 0); // before the start
    boxes.AddDev(1, "B", 0.2, 0.2, 7, 8, 9);
    ASSERT_EQ(boxes.Boxes().size(), 4u);
    std::string order;
    for (const auto& b : boxes.Boxes()) order += b.name;
    EXPECT_EQ(order, "ABCD");
    EXPECT_EQ(boxes.Boxes()[1].area, CreateArea(0.2, 0.2, 6, 12, 300, 600));

    boxes.DeleteItem(0);
    boxes.DeleteItem(17);
    boxes.DeleteItem(-1);
    ASSERT_EQ(boxes.Boxes().size(), 3u);
    EXPECT_EQ(boxes.Boxes()[0].name, "B");

    boxes.UpDate(0, "Bigger", 0.5, 0.5, 1, 1, 1);
    EXPECT_EQ(boxes.Boxes()[0].area, CreateArea(0.5, 0.5, 36, 12, 300, 600));
    boxes.UpDate(3, "ignored", 0, 0, 0, 0, 0);
    EXPECT_EQ(boxes.UpDateDevPos(1, 0.9, 0.9), 1);
    EXPECT_EQ(boxes.Boxes()[1].area, CreateArea(0.9, 0.9, 6, 12, 300, 600));
    EXPECT_EQ(boxes.UpDateDevPos(3, 0.1, 0.1), 0);
    EXPECT_EQ(boxes.UpDateDevPos(-1, 0.1, 0.1), 0);
}

TEST_F(MapBoxesTest, ClickPicksTheFirstBoxContainingThePoint) {
    boxes.AddDev(0, "Lower", 0.5, 0.5, 0, 0, 0);
    boxes.AddDev(1, "Upper", 0.5, 0.5, 0, 0, 0);
    boxes.AddDev(2, "Far", 0.9, 0.1, 0, 0, 0);
    EXPECT_EQ(boxes.OnLBtnUp(150, 300), 0);
    EXPECT_EQ(boxes.OnLBtnUp(AreaOf(2).left, AreaOf(2).bottom), 2); // edges belong to the box
    EXPECT_EQ(boxes.OnLBtnUp(10, 590), kHitNothing);
}

TEST_F(MapBoxesTest, MoveFollowsThePointerAndEndsOnRelease) {
    boxes.AddDev(0, "Other", 0.5, 0.5, 0, 0, 0);
    boxes.AddDev(1, "Moved", 0.1, 0.1, 0, 0, 0);
    EXPECT_EQ(boxes.OnMouseMove(10, 10), -1);

    boxes.StartMoveDev(1);
    EXPECT_EQ(boxes.MovingIndex(), 1);
    EXPECT_EQ(boxes.OnMouseMove(150, 300), 1);
    EXPECT_DOUBLE_EQ(boxes.Boxes()[1].x, 0.5);
    EXPECT_DOUBLE_EQ(boxes.Boxes()[1].y, 0.5);
    EXPECT_EQ(AreaOf(1), CreateArea(0.5, 0.5, 30, 12, 300, 600));
    EXPECT_DOUBLE_EQ(boxes.Boxes()[0].x, 0.5); // the other box stays

    // Released over a box, the move still just ends.
    EXPECT_EQ(boxes.OnLBtnUp(150, 300), kHitMoveEnded);
    EXPECT_EQ(boxes.MovingIndex(), -1);
    EXPECT_EQ(boxes.OnMouseMove(0, 0), -1);
    EXPECT_DOUBLE_EQ(boxes.Boxes()[1].x, 0.5);
    EXPECT_EQ(boxes.OnLBtnUp(150, 300), 0);
}

TEST_F(MapBoxesTest, MovePositionStaysOnTheMap) {
    boxes.AddDev(0, "M", 0.5, 0.5, 0, 0, 0);
    boxes.StartMoveDev(0);
    boxes.OnMouseMove(-40, 900);
    EXPECT_DOUBLE_EQ(boxes.Boxes()[0].x, 0.0);
    EXPECT_DOUBLE_EQ(boxes.Boxes()[0].y, 1.0);
    boxes.SetMapSize(0, 0);
    EXPECT_EQ(boxes.OnMouseMove(5, 5), 0);
    EXPECT_DOUBLE_EQ(boxes.Boxes()[0].x, 0.0);
}

TEST_F(MapBoxesTest, MovingIndexAlwaysNamesTheMovedBox) {
    boxes.StartMoveDev(0); // nothing to move
    EXPECT_EQ(boxes.MovingIndex(), -1);
    boxes.AddDev(0, "A", 0.1, 0.1, 0, 0, 0);
    boxes.AddDev(1, "B", 0.2, 0.2, 0, 0, 0);
    boxes.StartMoveDev(1);
    boxes.AddDev(0, "New", 0.9, 0.9, 0, 0, 0);
    EXPECT_EQ(boxes.MovingIndex(), 2);
    boxes.DeleteItem(0);
    EXPECT_EQ(boxes.MovingIndex(), 1);
    EXPECT_EQ(boxes.OnMouseMove(30, 60), 1);
    EXPECT_EQ(boxes.Boxes()[1].name, "B");
    boxes.DeleteItem(1);
    EXPECT_EQ(boxes.MovingIndex(), -1);
    EXPECT_EQ(boxes.OnMouseMove(30, 60), -1);
    boxes.StartMoveDev(0);
    boxes.Clear();
    EXPECT_EQ(boxes.OnMouseMove(30, 60), -1);
}

TEST_F(MapBoxesTest, PlacingRefusesOccupiedSpotsUntilAllArePlaced) {
    boxes.AddDev(0, "Existing", 0.5, 0.5, 0, 0, 0);
    boxes.StartAddDev(3);
    int placed = 0;
    for (auto [x, y] : {std::pair{150, 300}, {20, 20}, {150, 300}, {200, 500}, {280, 40}}) {
        const int hit = boxes.OnLBtnUp(x, y);
        if (AreaOf(0).Contains(x, y)) {
            EXPECT_EQ(hit, kHitPlaceOnBox);
            continue;
        }
        EXPECT_EQ(hit, kHitPlaceFree);
        boxes.AddDev(99, "New" + std::to_string(++placed), x / 300.0, y / 600.0, 0, 0, 0);
        boxes.PlacedOne();
    }
    EXPECT_EQ(placed, 3);
    EXPECT_EQ(boxes.StillToPlace(), 0);
    boxes.PlacedOne();
    EXPECT_EQ(boxes.StillToPlace(), 0);
    EXPECT_EQ(boxes.OnLBtnUp(150, 300), 0);
    EXPECT_EQ(boxes.OnLBtnUp(5, 300), kHitNothing);
}

TEST_F(MapBoxesTest, MoveTakesPrecedenceOverPlacing) {
    boxes.AddDev(0, "A", 0.5, 0.5, 0, 0, 0);
    boxes.StartAddDev(1);
    boxes.StartMoveDev(0);
    EXPECT_EQ(boxes.OnLBtnUp(5, 5), kHitMoveEnded);
    EXPECT_EQ(boxes.OnLBtnUp(5, 5), kHitPlaceFree);
    EXPECT_EQ(boxes.StillToPlace(), 1);
}

TEST(MapBoxes, WithoutMeasureNamesTakeNoRoom) {
    MapBoxes boxes{MapBoxes::Measure{}};
    boxes.SetMapSize(100, 100);
    boxes.AddDev(0, "x", 0.5, 0.5, 0, 0, 0);
    EXPECT_EQ(boxes.Boxes()[0].area, CreateArea(0.5, 0.5, 0, 0, 100, 100));
}

} // namespace
} // namespace hygro
