#pragma once

#include <QApplication>
#include <QColor>
#include <QWheelEvent>
#include <QWidget>
#include <QtTest/qtestspontaneevent.h>
#include <QtTest/qtestsystem.h>
#include <gtest/gtest.h>
#include <ostream>

// Colours read as #rrggbb (and alpha) in failure messages.
inline void PrintTo(const QColor& colour, std::ostream* out) {
    *out << colour.name(QColor::HexArgb).toStdString();
}

namespace corvalle::test {

// The child of `parent` with the object name `name`; a missing one fails the test.
template <typename T = QWidget> T* child(const QWidget& parent, const char* name) {
    auto* found = parent.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Makes the shown top-level `window` the active one, as a click on it would, so
// that focus and key presses reach its widgets; false when it never became active.
inline bool activate(QWidget& window) {
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

// Sends a wheel turn to `target`; true when some widget took it.
inline bool wheel(QWidget& target, int deltaY) {
    const QPointF at(target.width() / 2.0, target.height() / 2.0);
    QWheelEvent event(at, target.mapToGlobal(at), QPoint(), QPoint(0, deltaY), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    // As from the window system: handed on to the parents until one takes it.
    // (sendEvent would mark it as the program's own, which is never handed on.)
    QSpontaneKeyEvent::setSpontaneous(&event);
    event.setAccepted(false);
    QApplication::instance()->notify(&target, &event);
    return event.isAccepted();
}

} // namespace corvalle::test
