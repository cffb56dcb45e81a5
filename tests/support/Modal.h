#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>

namespace TestSupport {

// Runs `act` on the next modal dialog of type T that opens, from inside that dialog's own event
// loop, so a test can answer a dialog that blocks the call it made. Gives up after `limit`.
template<typename T>
void onNextModal(std::function<void(T &)> act, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    auto *timer = new QTimer(qApp);
    const auto deadline = std::chrono::steady_clock::now() + limit;
    QObject::connect(timer, &QTimer::timeout, timer, [timer, act = std::move(act), deadline] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            timer->deleteLater();
            timer->stop();
            act(*dialog);
        } else if (std::chrono::steady_clock::now() > deadline) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
}

} // namespace TestSupport
