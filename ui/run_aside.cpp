#include "ui/run_aside.h"

#include <cerrno>
#include <exception>
#include <system_error>

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

TFileResult WriteAside(const std::function<TFileResult()>& write,
                       const std::function<void()>& before) {
    TFileResult result{TFileStatus::Failed, 0};
    RunAside(
        [&] {
            try {
                result = write();
            } catch (const std::system_error& e) {
                result = {TFileStatus::Failed, e.code().value()};
            } catch (const std::exception&) {
                result = {TFileStatus::Failed, ENOMEM};
            }
        },
        before);
    return result;
}
