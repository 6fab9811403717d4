#include "qt_message_sink.h"

#include <QApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace {

int ShowBox(const QString& text, const QString& caption, seam::TButtons buttons) {
    QMessageBox box(QMessageBox::NoIcon, caption, text,
                    buttons == seam::TButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                        : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? seam::kAnswerOk : seam::kAnswerCancel;
}

}  // namespace

int TQtMessageSink::Message(const std::string& text, const std::string& caption,
                            seam::TButtons buttons) {
    const QString t = QString::fromStdString(text);
    const QString c = QString::fromStdString(caption);
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return ShowBox(t, c, buttons);
    int answer = seam::kAnswerOk;
    QMetaObject::invokeMethod(
        app, [&] { answer = ShowBox(t, c, buttons); }, Qt::BlockingQueuedConnection);
    return answer;
}
