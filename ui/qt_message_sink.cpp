#include "ui/qt_message_sink.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QRegularExpression>
#include <QThread>

namespace {

int ShowBox(const QString& text, const QString& caption, seam::TButtons buttons) {
    QMessageBox box(QMessageBox::NoIcon, caption, text,
                    buttons == seam::TButtons::OkCancel ? QMessageBox::Ok | QMessageBox::Cancel
                                                        : QMessageBox::Ok);
    return box.exec() == QMessageBox::Ok ? seam::kAnswerOk : seam::kAnswerCancel;
}

// The suffix of a name filter's first pattern ("Таблица CSV (*.csv)": "csv"),
// or empty.
QString FilterSuffix(const QString& filter) {
    const QRegularExpressionMatch m = QRegularExpression(R"(\*\.(\w+))").match(filter);
    return m.hasMatch() ? m.captured(1) : QString();
}

bool RunFileDialog(const seam::TFileRequest& request, seam::TFileChoice& choice) {
    QString start = QFile::decodeName(QByteArray::fromStdString(request.FileName));
    if (!request.Directory.empty() && QDir::isRelativePath(start))
        start =
            QDir(QFile::decodeName(QByteArray::fromStdString(request.Directory))).filePath(start);
    QFileDialog dialog(nullptr, QString::fromStdString(request.Caption), start,
                       QString::fromStdString(request.Filter));
    dialog.setAcceptMode(request.Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // The program asks its own question before replacing a file, where it
    // replaces one at all (a call-log file is appended to).
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    // An open dialog may name a file that does not exist yet.
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!request.DefaultSuffix.empty()) {
        dialog.setDefaultSuffix(QString::fromStdString(request.DefaultSuffix));
        // A name typed without a suffix gets the one of the filter chosen.
        QObject::connect(
            &dialog, &QFileDialog::filterSelected, &dialog,
            [&dialog, &request](const QString& filter) {
                const QString suffix = FilterSuffix(filter);
                dialog.setDefaultSuffix(
                    suffix.isEmpty() ? QString::fromStdString(request.DefaultSuffix) : suffix);
            });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    choice.Path = QFile::encodeName(dialog.selectedFiles().first()).toStdString();
    choice.Filter =
        request.Filter.empty() ? std::string() : dialog.selectedNameFilter().toStdString();
    return true;
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

bool TQtMessageSink::FileDialog(const seam::TFileRequest& request, std::string& chosen) {
    seam::TFileChoice choice;
    if (!ChooseFile(request, choice)) return false;
    chosen = choice.Path;
    return true;
}

bool TQtMessageSink::ChooseFile(const seam::TFileRequest& request, seam::TFileChoice& choice) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return false;
    if (QThread::currentThread() == app->thread()) return RunFileDialog(request, choice);
    bool confirmed = false;
    QMetaObject::invokeMethod(
        app, [&] { confirmed = RunFileDialog(request, choice); }, Qt::BlockingQueuedConnection);
    return confirmed;
}
