// Driving widgets in tests: bounded waits, mouse clicks on table cells, and answering
// the modal dialog a call is about to open.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <functional>

namespace hygro::test {

// Waits (bounded) for a condition while the event loop runs.
template <typename Pred>
bool WaitFor(Pred pred, int ms = 3000) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > ms) return false;
        QTest::qWait(10);
    }
    return true;
}

inline void SendMouse(QTableWidget& table, QEvent::Type type, int row, int column) {
    const QPoint pos = table.visualItemRect(table.item(row, column)).center();
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, table.viewport()->mapToGlobal(pos), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(table.viewport(), &event);
}

inline void ClickCell(QTableWidget& table, int row, int column) {
    SendMouse(table, QEvent::MouseButtonPress, row, column);
    SendMouse(table, QEvent::MouseButtonRelease, row, column);
}

// The second press of a double click arrives as a double-click event.
inline void DoubleClickCell(QTableWidget& table, int row, int column) {
    SendMouse(table, QEvent::MouseButtonDblClick, row, column);
    SendMouse(table, QEvent::MouseButtonRelease, row, column);
}

// Runs `handle` on the next modal dialog once it is shown (from inside its event loop).
// If none appears within the time limit, `handle` gets null. A dialog `handle` leaves
// open is rejected so that a failing test never hangs.
inline void OnNextModal(std::function<void(QWidget*)> handle, int ms = 3000) {
    auto* timer = new QTimer(qApp); // deletes itself once done
    QElapsedTimer started;
    started.start();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, started, ms, handle = std::move(handle)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr && started.elapsed() < ms) return;
        timer->stop();
        QPointer<QWidget> guard(modal);
        handle(modal);
        if (auto* d = qobject_cast<QDialog*>(guard.data()); d && d->isVisible()) d->reject();
        timer->deleteLater();
    });
    timer->start(10);
}

} // namespace hygro::test
