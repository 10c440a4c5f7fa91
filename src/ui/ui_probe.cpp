#include "ui/ui_probe.h"

#include "map/map_widget.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QSaveFile>
#include <QTableWidget>
#include <QTimer>
#include <QTreeWidget>
#include <QWidget>

namespace hygro::ui {
namespace {

QJsonObject Rect(const QWidget* w, const QRect& local) {
    const QPoint g = w->mapToGlobal(local.topLeft());
    return {{"x", g.x()}, {"y", g.y()}, {"w", local.width()}, {"h", local.height()}};
}

QString TextOf(const QWidget* w) {
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    return {};
}

void AddActions(QJsonObject& out, const QWidget* w, const QList<QAction*>& actions,
                const std::function<QRect(QAction*)>& geometry) {
    QJsonArray list;
    for (QAction* a : actions) {
        if (a->isSeparator() || !a->isVisible()) continue;
        QJsonObject o = Rect(w, geometry(a));
        o["text"] = a->text();
        o["enabled"] = a->isEnabled();
        list.append(o);
    }
    out["actions"] = list;
}

QJsonObject Describe(QWidget* top) {
    QJsonObject win = Rect(top, top->rect());
    win["title"] = top->windowTitle();
    win["class"] = QString::fromLatin1(top->metaObject()->className());
    if (auto* menu = qobject_cast<QMenu*>(top))
        AddActions(win, menu, menu->actions(), [menu](QAction* a) { return menu->actionGeometry(a); });
    QJsonArray widgets, cells, boxes, menubar;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->window() != top) continue; // dialogs are described on their own
        if (auto* bar = qobject_cast<QMenuBar*>(w)) {
            QJsonObject o;
            AddActions(o, bar, bar->actions(), [bar](QAction* a) { return bar->actionGeometry(a); });
            menubar = o["actions"].toArray();
            continue;
        }
        if (auto* table = qobject_cast<QTableWidget*>(w)) {
            for (int r = 0; r < table->rowCount(); ++r)
                for (int c = 0; c < table->columnCount(); ++c) {
                    const QRect rect = table->visualRect(table->model()->index(r, c));
                    if (!table->viewport()->rect().intersects(rect)) continue;
                    QJsonObject o = Rect(table->viewport(), rect);
                    o["table"] = table->objectName();
                    o["row"] = r;
                    o["col"] = c;
                    o["text"] = table->item(r, c) ? table->item(r, c)->text() : QString();
                    cells.append(o);
                }
        }
        if (auto* tree = qobject_cast<QTreeWidget*>(w)) {
            for (QTreeWidgetItemIterator it(tree); *it; ++it) {
                const QRect rect = tree->visualItemRect(*it);
                if (rect.isEmpty()) continue;
                QJsonObject o = Rect(tree->viewport(), rect);
                o["tree"] = tree->objectName();
                o["text"] = (*it)->text(0);
                cells.append(o);
            }
        }
        const MapBoxes* mapBoxes = nullptr;
        if (auto* live = qobject_cast<map::CPicCtrl_WiFiSensor*>(w)) mapBoxes = &live->Boxes();
        if (auto* history = qobject_cast<map::CHistoryMapView*>(w)) mapBoxes = &history->Boxes();
        if (mapBoxes) {
            for (const auto& b : mapBoxes->Boxes()) {
                QJsonObject o = Rect(w, QRect(b.area.left, b.area.top, b.area.right - b.area.left,
                                                b.area.bottom - b.area.top));
                o["name"] = QString::fromStdString(b.name);
                boxes.append(o);
            }
        }
        // Named controls, and buttons by their text (message boxes name none).
        const bool named = (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_"))) ||
                           w->objectName() == QLatin1String("qt_msgbox_label");
        if (!named && !qobject_cast<QAbstractButton*>(w)) continue;
        QJsonObject o = Rect(w, w->rect());
        o["name"] = w->objectName();
        o["class"] = QString::fromLatin1(w->metaObject()->className());
        o["text"] = TextOf(w);
        o["enabled"] = w->isEnabled();
        widgets.append(o);
    }
    win["widgets"] = widgets;
    win["cells"] = cells;
    win["boxes"] = boxes;
    win["menubar"] = menubar;
    return win;
}

} // namespace

QString DescribeVisibleWindows() {
    QJsonArray windows;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible()) windows.append(Describe(top));
    QJsonObject root;
    root["windows"] = windows;
    if (QWidget* modal = QApplication::activeModalWidget()) root["modal"] = modal->windowTitle();
    return QString::fromUtf8(QJsonDocument(root).toJson(QJsonDocument::Compact));
}

void StartUiProbeFromEnvironment() {
    const QString path = qEnvironmentVariable("HYGROLOG_UI_PROBE");
    if (path.isEmpty()) return;
    auto* timer = new QTimer(qApp); // lives as long as the application
    QObject::connect(timer, &QTimer::timeout, timer, [path] {
        static QString last;
        const QString now = DescribeVisibleWindows();
        if (now == last) return;
        last = now;
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(now.toUtf8());
            file.commit();
        }
    });
    timer->start(150);
}

} // namespace hygro::ui
