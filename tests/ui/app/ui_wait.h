#pragma once
// Waiting in Qt tests without sleeping: the event loop runs until a condition
// holds or the margin has passed. Also a plain left click.
#include <QApplication>
#include <QEventLoop>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>

namespace velmora::test {

// Checks `done()` every 10 ms of event loop until it holds or `margin` has passed.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds margin = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + margin;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline void LeftClick(QWidget& widget, QPoint at) {
    const QPointF global = widget.mapToGlobal(QPointF(at));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&widget, &release);
}

}  // namespace velmora::test
