// The live map widget: built-in picture, decoding, painting and the mouse.
#include "map/map_widget.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QMouseEvent>
#include <QPainter>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <vector>

namespace hygro::map {
namespace {

const QColor kRed(255, 0, 0);

std::vector<unsigned char> Encoded(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return {bytes.begin(), bytes.end()};
}

QImage Solid(int w, int h, QColor c) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(c);
    return image;
}

void Send(QWidget& w, QEvent::Type type, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    const Qt::MouseButton which = type == QEvent::MouseMove ? Qt::NoButton : button;
    QMouseEvent event(type, pos, w.mapToGlobal(pos), which, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

void Release(QWidget& w, QPoint pos, Qt::MouseButton button = Qt::LeftButton) {
    Send(w, QEvent::MouseButtonRelease, pos, button);
}

QPoint Centre(const BoxRect& a) {
    return {(a.left + a.right) / 2, (a.top + a.bottom) / 2};
}

// A 300 × 600 map on a plain picture; its size is the map size.
class MapWidget : public ::testing::Test {
  protected:
    void SetUp() override {
        map.resize(300, 600);
        map.SetPicture(Solid(30, 60, QColor(250, 250, 250)));
        map.show();
    }
    const BoxRect& Area(int i) const { return map.Boxes().Boxes().at(static_cast<std::size_t>(i)).area; }
    QImage Shot() { return map.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    CPicCtrl_WiFiSensor map;
};

TEST(BuiltInPicture, IsTheFloorPlanAndGivesItsProportions) {
    const QImage plan = CPicCtrl_WiFiSensor::BuiltInFloorPlan();
    ASSERT_FALSE(plan.isNull());
    EXPECT_EQ(plan.size(), QSize(kBuiltInWidth, kBuiltInHeight));
    EXPECT_EQ(plan.size(), QSize(227, 470));

    CPicCtrl_WiFiSensor map;
    EXPECT_EQ(map.GetXDividedYValue(), 0.0); // no picture yet
    map.LoadBuiltIn();
    EXPECT_DOUBLE_EQ(map.GetXDividedYValue(), 227.0 / 470.0);
    map.SetPicture(QImage());
    EXPECT_EQ(map.GetXDividedYValue(), 0.0);
}

TEST(AttachBmpFile, DecodesBmpPngJpegAndKeepsThePictureOnGarbage) {
    const QImage source = Solid(40, 20, QColor(10, 200, 30));
    const auto png = Encoded(source, "PNG");
    struct Case {
        const char* what;
        std::vector<unsigned char> bytes;
        int result;
    };
    const std::vector<Case> cases{
        {"bmp", Encoded(source, "BMP"), 1},
        {"png", png, 1},
        {"jpeg", Encoded(source, "JPEG"), 1},
        {"empty", {}, 0},
        {"text", {'h', 'e', 'l', 'l', 'o'}, 0},
        {"png cut short", {png.begin(), png.begin() + 20}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CPicCtrl_WiFiSensor map;
        map.LoadBuiltIn();
        EXPECT_EQ(map.AttachBmpFile(c.bytes), c.result);
        EXPECT_EQ(map.Picture().size(), c.result ? QSize(40, 20) : QSize(227, 470));
    }
}

TEST_F(MapWidget, PaintsThePictureOverTheMapAndEachBoxRedOutlinedInItsColour) {
    map.SetPicture(Solid(3, 3, QColor(255, 255, 0)));
    map.Boxes().AddDev(0, "    ", 0.5, 0.5, 0, 128, 255); // blanks: no ink inside
    const QImage shot = Shot();
    ASSERT_EQ(shot.size(), QSize(300, 600));
    EXPECT_EQ(shot.pixelColor(0, 0), QColor(255, 255, 0));
    EXPECT_EQ(shot.pixelColor(299, 599), QColor(255, 255, 0));

    const BoxRect a = Area(0);
    ASSERT_GT(a.right - a.left, 4);
    EXPECT_EQ(shot.pixelColor(a.left, a.top), kRed);
    EXPECT_EQ(shot.pixelColor(a.right - 1, a.bottom - 1), kRed);
    EXPECT_EQ(shot.pixelColor(a.left, Centre(a).y()), kRed);
    EXPECT_EQ(shot.pixelColor(a.left + 2, a.top + 2), QColor(0, 128, 255));
    EXPECT_EQ(shot.pixelColor(Centre(a)), QColor(0, 128, 255));
    // The box ends at its area's right and bottom.
    EXPECT_EQ(shot.pixelColor(a.right, Centre(a).y()), QColor(255, 255, 0));
    EXPECT_EQ(shot.pixelColor(Centre(a).x(), a.bottom), QColor(255, 255, 0));
}

TEST_F(MapWidget, LaterBoxesCoverEarlierOnesAndNamesAreWritten) {
    map.Boxes().AddDev(0, "    ", 0.5, 0.5, 255, 0, 0);
    map.Boxes().AddDev(1, "    ", 0.5, 0.5, 0, 255, 0);
    map.Boxes().AddDev(2, "Lab", 0.2, 0.2, 255, 255, 255);
    const QImage shot = Shot();
    EXPECT_EQ(shot.pixelColor(Centre(Area(0))), QColor(0, 255, 0));

    const BoxRect n = Area(2);
    int dark = 0;
    for (int y = n.top + 1; y < n.bottom - 1; ++y)
        for (int x = n.left + 1; x < n.right - 1; ++x) dark += qGray(shot.pixel(x, y)) < 100;
    EXPECT_GT(dark, 3) << "the name is drawn in black inside its box";
}

TEST_F(MapWidget, DrawsTheBoxesWithoutAPicture) {
    map.SetPicture(QImage());
    map.Boxes().AddDev(0, "    ", 0.5, 0.5, 0, 0, 255);
    const QImage shot = Shot();
    EXPECT_EQ(shot.pixelColor(Area(0).left, Area(0).top), kRed);
    EXPECT_EQ(shot.pixelColor(Centre(Area(0))), QColor(0, 0, 255));
}

TEST_F(MapWidget, ResizingLaysTheBoxesOutAgain) {
    map.Boxes().AddDev(0, "S1", 0.25, 0.5, 0, 0, 255);
    const int before = Centre(Area(0)).x();
    map.resize(600, 600);
    QApplication::processEvents();
    EXPECT_EQ(map.Boxes().MapWidth(), 600);
    EXPECT_NEAR(Centre(Area(0)).x(), 2 * before, 2);
}

TEST_F(MapWidget, NamesAreMeasuredWithTheWidgetsFont) {
    map.Boxes().AddDev(0, "Greenhouse", 0.5, 0.5, 0, 0, 255);
    const int narrow = Area(0).right - Area(0).left;
    QFont big = map.font();
    big.setPixelSize(30);
    map.setFont(big);
    EXPECT_EQ(Area(0).right - Area(0).left, QFontMetrics(big).horizontalAdvance(QStringLiteral("Greenhouse")) + 2);
    EXPECT_GT(Area(0).right - Area(0).left, narrow);
}

TEST_F(MapWidget, LeftReleaseReportsTheHitAndTheFractions) {
    map.Boxes().AddDev(0, "A", 0.5, 0.5, 0, 0, 255);
    map.Boxes().AddDev(1, "B", 0.5, 0.5, 0, 255, 0); // on top of A
    map.Boxes().AddDev(2, "C", 0.1, 0.9, 0, 255, 0);
    struct Case {
        const char* what;
        int place;   // sensors to place before the click
        bool onBox;  // click on box 0/1, else a free spot
        int result;
    };
    const Case cases[] = {
        {"idle on overlapping boxes: the lower index", 0, true, 0},
        {"idle on a free spot", 0, false, kHitNothing},
        {"placing onto a box", 2, true, kHitPlaceOnBox},
        {"placing on a free spot", 2, false, kHitPlaceFree},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        map.Boxes().StartAddDev(c.place);
        QSignalSpy spy(&map, &CPicCtrl_WiFiSensor::released);
        const QPoint at = c.onBox ? Centre(Area(0)) : QPoint(270, 60);
        Release(map, at);
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy.at(0).at(0).toInt(), c.result);
        EXPECT_DOUBLE_EQ(spy.at(0).at(1).toDouble(), at.x() / 300.0);
        EXPECT_DOUBLE_EQ(spy.at(0).at(2).toDouble(), at.y() / 600.0);
        EXPECT_EQ(spy.at(0).at(3).toPoint(), map.mapToGlobal(at));
        EXPECT_EQ(map.Boxes().StillToPlace(), c.place) << "the owner lowers the count";
    }
}

TEST_F(MapWidget, OtherButtonsReportNothing) {
    map.Boxes().AddDev(0, "A", 0.5, 0.5, 0, 0, 255);
    QSignalSpy spy(&map, &CPicCtrl_WiFiSensor::released);
    Release(map, Centre(Area(0)), Qt::RightButton);
    EXPECT_EQ(spy.count(), 0);
}

TEST_F(MapWidget, MovingFollowsTheMouseAndTheReleaseEndsIt) {
    map.Boxes().AddDev(0, "S1", 0.1, 0.1, 0, 0, 255);
    map.Boxes().StartMoveDev(0);
    Send(map, QEvent::MouseMove, QPoint(150, 300));
    EXPECT_DOUBLE_EQ(map.Boxes().Boxes()[0].x, 0.5);
    EXPECT_DOUBLE_EQ(map.Boxes().Boxes()[0].y, 0.5);
    const QImage shot = Shot();
    EXPECT_EQ(shot.pixelColor(Centre(Area(0)).x(), Area(0).top), kRed) << "repainted at the new place";

    QSignalSpy spy(&map, &CPicCtrl_WiFiSensor::released);
    Release(map, QPoint(150, 300));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), kHitMoveEnded);
    EXPECT_DOUBLE_EQ(spy.at(0).at(1).toDouble(), 0.5);
    EXPECT_DOUBLE_EQ(spy.at(0).at(2).toDouble(), 0.5);
    EXPECT_EQ(map.Boxes().MovingIndex(), -1);

    // Not moving any more: the mouse leaves the box where it is.
    Send(map, QEvent::MouseMove, QPoint(30, 30));
    EXPECT_DOUBLE_EQ(map.Boxes().Boxes()[0].x, 0.5);
}

TEST_F(MapWidget, PositionsOutsideTheMapAreClampedToIt) {
    map.Boxes().AddDev(0, "S1", 0.5, 0.5, 0, 0, 255);
    map.Boxes().StartMoveDev(0);
    Send(map, QEvent::MouseMove, QPoint(-40, 900));
    EXPECT_DOUBLE_EQ(map.Boxes().Boxes()[0].x, 0.0);
    EXPECT_DOUBLE_EQ(map.Boxes().Boxes()[0].y, 599.0 / 600.0);
    EXPECT_LE(Area(0).bottom, 600);

    QSignalSpy spy(&map, &CPicCtrl_WiFiSensor::released);
    Release(map, QPoint(500, -20));
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), kHitMoveEnded);
    EXPECT_DOUBLE_EQ(spy.at(0).at(1).toDouble(), 299.0 / 300.0);
    EXPECT_DOUBLE_EQ(spy.at(0).at(2).toDouble(), 0.0);
}

// A picture for a person to look at: ui-shots/map-live.png.
TEST(MapShots, FourSensorsOnTheBuiltInPlan) {
    CPicCtrl_WiFiSensor map;
    map.LoadBuiltIn();
    map.resize(290, 600); // the plan's proportions
    map.Boxes().AddDev(0, "Cold room 1", 0.38, 0.19, 120, 190, 255);
    map.Boxes().AddDev(1, "Lab", 0.45, 0.36, 255, 220, 120);
    map.Boxes().AddDev(2, "Greenhouse A", 0.40, 0.58, 140, 230, 140);
    map.Boxes().AddDev(3, "Office", 0.88, 0.97, 255, 170, 200);
    map.show();
    const QImage shot = map.grab().toImage();
    ASSERT_EQ(shot.size(), QSize(290, 600));
    for (const CDev_Info_PciCtrl& b : map.Boxes().Boxes()) {
        EXPECT_GE(b.area.left, 0);
        EXPECT_LE(b.area.right, 290);
        EXPECT_LE(b.area.bottom, 600);
    }
    QDir().mkpath(QStringLiteral("ui-shots"));
    EXPECT_TRUE(shot.save(QStringLiteral("ui-shots/map-live.png")));
}

} // namespace
} // namespace hygro::map
