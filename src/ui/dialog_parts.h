// Small pieces every dialog of the station shares: controls named by their ids (tests and
// the main window find them that way) and the keys that never close a dialog.
#pragma once

#include <QKeyEvent>
#include <QPushButton>
#include <QString>

namespace hygro::ui {

template <typename W> W* Named(W* w, const char* id) {
    w->setObjectName(QString::fromLatin1(id));
    return w;
}

// A button that Enter does not press.
inline QPushButton* Button(const char* text, const char* id, QWidget* parent) {
    auto* b = Named(new QPushButton(QString::fromLatin1(text), parent), id);
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

inline bool IsEnter(const QKeyEvent* e) {
    return e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
}

inline bool IsAltF4(const QKeyEvent* e) {
    return e->key() == Qt::Key_F4 && (e->modifiers() & Qt::AltModifier);
}

inline bool IsEscapeOrAltF4(const QKeyEvent* e) {
    return e->key() == Qt::Key_Escape || IsAltF4(e);
}

// Enter, Escape and Alt+F4: swallowed by dialogs that close only through their buttons.
inline bool SwallowedKey(const QKeyEvent* e) {
    return IsEnter(e) || IsEscapeOrAltF4(e);
}

} // namespace hygro::ui
