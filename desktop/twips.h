// Window layouts are kept in twips (1/1440 inch), as the windows were designed; 15 twips make one
// pixel at 96 dpi. Small helpers the windows share to place and colour their controls.
#pragma once

#include <QColor>
#include <QPalette>
#include <QString>
#include <QWidget>

namespace mbx::desktop {

constexpr int tw(int twips) {
    return (twips + 7) / 15;
}

// Names the control (also its Qt object name) and sets its geometry in twips.
inline void place(QWidget* w, const char* name, int left, int top, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(tw(left), tw(top), tw(width), tw(height));
}

// An opaque background of one colour (also for buttons that paint with the Button role). Every
// background the windows use is light, so the text drawn on it (and on the controls inside it) is
// black whatever the desktop theme's palette says; a dark theme would otherwise draw light text.
inline void paintBackground(QWidget* w, const QColor& colour) {
    QPalette pal = w->palette();
    pal.setColor(QPalette::Window, colour);
    pal.setColor(QPalette::Button, colour);
    pal.setColor(QPalette::WindowText, Qt::black);
    pal.setColor(QPalette::ButtonText, Qt::black);
    w->setPalette(pal);
    w->setAutoFillBackground(true);
}

} // namespace mbx::desktop
