// The client area below the menu: left view, the 4-pixel splitter bar, right view(s), laid
// out by hand as the station has always done (no layout manager moves the bar).
#pragma once

#include <QWidget>
#include <functional>

namespace hygro::ui {

class MainArea : public QWidget {
    Q_OBJECT
  public:
    explicit MainArea(QWidget* parent = nullptr);

    // Views: in map view `left` is the map and `upper`/`lower` the two charts; in table
    // view `left` is the tree and `upper` the table (lower hidden).
    void SetViews(QWidget* left, QWidget* upper, QWidget* lower);
    void SetMapView(bool map) { m_mapView = map; }
    bool IsMapView() const { return m_mapView; }
    int SplitterLeft() const { return m_splitterLeft; }
    void SetSplitterLeft(int x);
    // Runs the layout (DockPane).
    void DockPane();
    // Called with the new left edge when a drag of the bar ends.
    std::function<void(int)> onSplitterReleased;

  protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

  private:
    bool OverBar(int x) const { return x >= m_splitterLeft && x < m_splitterLeft + 4; }

    QWidget* m_left = nullptr;
    QWidget* m_upper = nullptr;
    QWidget* m_lower = nullptr;
    bool m_mapView = true;
    int m_splitterLeft = 300;
    bool m_hover = false;
    bool m_drag = false;
};

} // namespace hygro::ui
