// The sensors on a map as boxes, without drawing: where each box lies for a map size, what
// a click hits, and the moving and placing states.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace hygro {

struct BoxRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(int x, int y) const { return x >= left && x <= right && y >= top && y <= bottom; }
    bool operator==(const BoxRect&) const = default;
};

// The box of a name measuring textW × textH centred at (x × mapW, y × mapH), one pixel to
// spare around the name, kept inside the map.
BoxRect CreateArea(double x, double y, int textW, int textH, int mapW, int mapH);

// One sensor on a map.
struct CDev_Info_PciCtrl {
    std::string name;
    double x = 0.0;
    double y = 0.0;
    int r = 0, g = 0, b = 0;
    BoxRect area;
};

// Release results of OnLBtnUp besides a box index.
inline constexpr int kHitNothing = -1;
inline constexpr int kHitMoveEnded = -2;
inline constexpr int kHitPlaceOnBox = -3;
inline constexpr int kHitPlaceFree = -4;

class MapBoxes {
  public:
    // Measures a name: width and height in pixels.
    using Measure = std::function<void(const std::string& name, int& w, int& h)>;
    explicit MapBoxes(Measure measure);

    void SetMapSize(int width, int height); // recomputes every area
    int MapWidth() const { return m_width; }
    int MapHeight() const { return m_height; }

    // Inserts at index (appends when the index is not inside the list).
    void AddDev(int index, const std::string& name, double x, double y, int r, int g, int b);
    void DeleteItem(int index);
    // Name, position and colour of box index (nothing for an index outside the list).
    void UpDate(int index, const std::string& name, double x, double y, int r, int g, int b);
    // 0 when the index is out of range.
    int UpDateDevPos(int index, double x, double y);
    void Clear();
    void ReCreateAreaAllSensor();

    void StartMoveDev(int index);
    void StartAddDev(int count);
    int MovingIndex() const { return m_moving; }
    int StillToPlace() const { return m_toPlace; }
    void PlacedOne(); // lowers the count to place by one

    // While moving: the box follows the point; returns the moving index, or -1.
    int OnMouseMove(int px, int py);
    // Release of the left button: kHitMoveEnded, kHitPlaceOnBox, kHitPlaceFree, the index of
    // the first box containing the point, or kHitNothing.
    int OnLBtnUp(int px, int py);

    const std::vector<CDev_Info_PciCtrl>& Boxes() const { return m_boxes; }

  private:
    void Area(CDev_Info_PciCtrl& box) const;

    Measure m_measure;
    int m_width = 0;
    int m_height = 0;
    int m_moving = -1;
    int m_toPlace = 0;
    std::vector<CDev_Info_PciCtrl> m_boxes;
};

} // namespace hygro
