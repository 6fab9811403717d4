#include "ui/about_form.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QVBoxLayout>

namespace {

const char kSupportAddress[] = "tallyphon-support@example.org";

}  // namespace

TAboutForm::TAboutForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Memo1(new QPlainTextEdit),
      StatusBar1(new QStatusBar) {
    setObjectName("AboutForm");
    setWindowTitle("О программе");
    Memo1->setObjectName("Memo1");
    Memo1->setReadOnly(true);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setFixedHeight(19);
    auto* version = new QLabel(QString("Версия ") + TALLYPHON_VERSION);
    version->setObjectName("VersionLabel");
    StatusBar1->addWidget(version);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Memo1);
    layout->addWidget(StatusBar1);
    // A single border: the window keeps its design size.
    setFixedSize(630, 169);
}

void TAboutForm::FormShow() {
    Memo1->clear();
    Memo1->appendPlainText(
        "Данная программа предназначена для работы с АТС типа VERANTA QTV610/930, QS16/20, "
        "QS31/53 и QS800.");
    Memo1->appendPlainText("");
    Memo1->appendPlainText(
        QString("Пожелания по усовершенствованию и сообщения о найденных ошибках, отправляйте по "
                "адресу: ") +
        kSupportAddress);
}

void TAboutForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TAboutForm::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TAboutForm::FormResize() {
    Memo1->viewport()->update();
}
