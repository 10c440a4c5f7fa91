#include "map/map_layout.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace hygro {

namespace {

// Truncates toward zero, then keeps at least 0; a position read from a file may be anything.
int TruncatedNonNegative(double v) {
    if (!(v > 0.0)) return 0; // negative or NaN
    constexpr double kFar = 1 << 30;
    return static_cast<int>(std::min(v, kFar));
}

double Fraction(int p, int size) {
    if (size <= 0) return 0.0;
    return std::clamp(static_cast<double>(p) / size, 0.0, 1.0);
}

} // namespace

BoxRect CreateArea(double x, double y, int textW, int textH, int mapW, int mapH) {
    BoxRect r;
    r.left = TruncatedNonNegative(x * mapW - textW / 2 - 2);
    r.right = r.left + textW + 2;
    if (r.right > mapW) {
        r.left -= r.right - mapW;
        r.right = mapW;
    }
    r.top = TruncatedNonNegative(y * mapH - textH / 2 - 2);
    r.bottom = r.top + textH + 2;
    if (r.bottom > mapH) {
        r.top -= r.bottom - mapH;
        r.bottom = mapH;
    }
    return r;
}

MapBoxes::MapBoxes(Measure measure) : m_measure(std::move(measure)) {}

void MapBoxes::Area(CDev_Info_PciCtrl& box) const {
    int w = 0;
    int h = 0;
    if (m_measure) m_measure(box.name, w, h);
    box.area = CreateArea(box.x, box.y, w, h, m_width, m_height);
}

void MapBoxes::SetMapSize(int width, int height) {
    m_width = width;
    m_height = height;
    ReCreateAreaAllSensor();
}

void MapBoxes::AddDev(int index, const std::string& name, double x, double y, int r, int g, int b) {
    CDev_Info_PciCtrl box{name, x, y, r, g, b, {}};
    Area(box);
    if (index >= 0 && static_cast<std::size_t>(index) < m_boxes.size()) {
        m_boxes.insert(m_boxes.begin() + index, std::move(box));
        if (m_moving >= index) ++m_moving; // keep following the same box
    } else {
        m_boxes.push_back(std::move(box));
    }
}

void MapBoxes::DeleteItem(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_boxes.size()) return;
    m_boxes.erase(m_boxes.begin() + index);
    if (m_moving == index)
        m_moving = -1;
    else if (m_moving > index)
        --m_moving;
}

void MapBoxes::UpDate(int index, const std::string& name, double x, double y, int r, int g, int b) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_boxes.size()) return;
    auto& box = m_boxes[static_cast<std::size_t>(index)];
    box.name = name;
    box.x = x;
    box.y = y;
    box.r = r;
    box.g = g;
    box.b = b;
    Area(box);
}

int MapBoxes::UpDateDevPos(int index, double x, double y) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_boxes.size()) return 0;
    auto& box = m_boxes[static_cast<std::size_t>(index)];
    box.x = x;
    box.y = y;
    Area(box);
    return 1;
}

void MapBoxes::Clear() {
    m_boxes.clear();
    m_moving = -1;
}

void MapBoxes::ReCreateAreaAllSensor() {
    for (auto& box : m_boxes) Area(box);
}

void MapBoxes::StartMoveDev(int index) {
    if (index >= 0 && static_cast<std::size_t>(index) < m_boxes.size()) m_moving = index;
}

void MapBoxes::StartAddDev(int count) { m_toPlace = std::max(count, 0); }

void MapBoxes::PlacedOne() {
    if (m_toPlace > 0) --m_toPlace;
}

int MapBoxes::OnMouseMove(int px, int py) {
    if (m_moving < 0) return -1;
    auto& box = m_boxes[static_cast<std::size_t>(m_moving)];
    box.x = Fraction(px, m_width);
    box.y = Fraction(py, m_height);
    Area(box);
    return m_moving;
}

int MapBoxes::OnLBtnUp(int px, int py) {
    if (m_moving >= 0) {
        m_moving = -1;
        return kHitMoveEnded;
    }
    const auto hit = std::find_if(m_boxes.begin(), m_boxes.end(),
                                  [&](const CDev_Info_PciCtrl& box) { return box.area.Contains(px, py); });
    if (m_toPlace > 0) return hit != m_boxes.end() ? kHitPlaceOnBox : kHitPlaceFree;
    return hit != m_boxes.end() ? static_cast<int>(hit - m_boxes.begin()) : kHitNothing;
}

} // namespace hygro
