// The map drawn with Qt: the live map the operator works on and the map of a saved
// map file. Names are measured and drawn with the widget's font; the owner sets it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <span>

#include "map/map_layout.h"

class QPainter;

namespace hygro {
struct MapFileContent;
}

namespace hygro::map {

inline constexpr int kBuiltInWidth = 227;
inline constexpr int kBuiltInHeight = 470;

// The picture stretched over pictureArea (nothing when null), then every box in index
// order: red 1-pixel outline, the sensor's colour inside, the name in black 1 pixel in
// from the top-left corner.
void PaintMap(QPainter& painter, const QImage& picture, const QRect& pictureArea, const MapBoxes& boxes);

// The live map. Its size is the map size: the owner gives it the map width and height.
class CPicCtrl_WiFiSensor : public QWidget {
    Q_OBJECT
  public:
    explicit CPicCtrl_WiFiSensor(QWidget* parent = nullptr);

    // Our own floor plan, kBuiltInWidth × kBuiltInHeight.
    static QImage BuiltInFloorPlan();

    void SetPicture(QImage picture); // a null image: no picture
    void LoadBuiltIn();
    // Decodes a picture held in memory (BMP, PNG, JPEG) and shows it: 1; 0 when it cannot
    // be decoded, the current picture staying.
    int AttachBmpFile(std::span<const unsigned char> bytes);
    const QImage& Picture() const { return m_picture; }
    // Picture width / height; 0 without a picture.
    double GetXDividedYValue() const;

    // The boxes; after changing them call update() to repaint.
    MapBoxes& Boxes() { return m_boxes; }
    const MapBoxes& Boxes() const { return m_boxes; }

  signals:
    // Left button released on the map: result of MapBoxes::OnLBtnUp (a box index or a
    // kHit* value), the point as fractions 0..1 of the map, and the point on screen.
    void released(int result, double fx, double fy, QPoint globalPos);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    // A hidden widget gets its resize event only when shown.
    void SyncMapSize();
    QPoint ClampToMap(QPoint p) const;

    QImage m_picture;
    MapBoxes m_boxes;
};

// The map of a map file, for the history map window: the picture stretched over the whole
// widget, the boxes laid out on the file's map width and a given height.
class CHistoryMapView : public QWidget {
    Q_OBJECT
  public:
    explicit CHistoryMapView(QWidget* parent = nullptr);

    // Takes the file's sensors (only when it carries a sensor list) and its picture (the
    // built-in one when it has none). False when the picture cannot be decoded: the map
    // then has no picture.
    bool SetContent(const MapFileContent& content);
    // Recomputes the boxes for a map of width × height.
    void LayOut(int width, int height);

    const QImage& Picture() const { return m_picture; }
    const MapBoxes& Boxes() const { return m_boxes; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QImage m_picture;
    MapBoxes m_boxes;
};

} // namespace hygro::map
