#include "ui/run_aside.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <thread>

void RunAside(const std::function<void()>& job, const std::function<void()>& before) {
    QEventLoop loop;
    std::thread worker;
    // Started from the loop, so that the quit it asks for is never lost.
    QTimer::singleShot(0, &loop, [&] {
        if (before) before();
        worker = std::thread([&] {
            job();
            QMetaObject::invokeMethod(
                &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
        });
    });
    loop.exec();
    if (worker.joinable()) worker.join();
}
