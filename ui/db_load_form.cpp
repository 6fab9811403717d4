#include "ui/db_load_form.h"

#include <exception>

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "base/message_seam.h"
#include "ui/named_widget.h"
#include "ui/run_aside.h"

namespace {

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
    auto* button = NamedWidget<QPushButton>(parent, name, caption);
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TDbLoadForm::TDbLoadForm(const std::string& connInfo, QWidget* parent)
    : QDialog(parent),
      ConnInfoLabel(
          NamedWidget<QLabel>(this, "ConnInfoLabel", "Строка подключения к базе данных:")),
      ConnInfoEdit(new QLineEdit(QString::fromStdString(connInfo), this)),
      ConnectButton(MakeButton(this, "ConnectButton", "Подключиться")),
      SitesLabel(NamedWidget<QLabel>(this, "SitesLabel", "Площадки:")),
      SitesList(new QListWidget(this)),
      OkButton(MakeButton(this, "OkButton", "Загрузить")),
      CancelButton(MakeButton(this, "CancelButton", "Отмена")) {
    setObjectName("DbLoadForm");
    setWindowTitle("Загрузить из базы");
    ConnInfoEdit->setObjectName("ConnInfoEdit");
    ConnInfoEdit->setPlaceholderText("host=... dbname=... user=...");
    SitesList->setObjectName("SitesList");

    auto* connection = new QHBoxLayout;
    connection->addWidget(ConnInfoEdit, 1);
    connection->addWidget(ConnectButton);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ConnInfoLabel);
    layout->addLayout(connection);
    layout->addWidget(SitesLabel);
    layout->addWidget(SitesList, 1);
    layout->addLayout(buttons);
    resize(460, 320);

    connect(ConnectButton, &QPushButton::clicked, this, [this] { ConnectButtonClick(); });
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // The listed offices are those of the database named when listed.
    connect(ConnInfoEdit, &QLineEdit::textEdited, this, [this] {
        SitesList->clear();
        listed_.clear();
        UpdateOk();
    });
    connect(SitesList, &QListWidget::itemChanged, this, [this] { UpdateOk(); });
    UpdateOk();
}

void TDbLoadForm::ConnectButtonClick() {
    const std::string connInfo = ConnInfoEdit->text().trimmed().toStdString();
    if (connInfo.empty()) return;
    SitesList->clear();
    listed_.clear();
    std::vector<std::string> sites;
    TDbReportResult result;
    setEnabled(false);
    RunAside([&] { result = ListDbSites(connInfo, sites); });
    setEnabled(true);
    if (!result.Ok()) {
        UpdateOk();
        seam::ShowMessage("Не удалось подключиться к базе данных: " + result.Error,
                          QApplication::applicationName().toStdString());
        return;
    }
    for (const std::string& site : sites) {
        auto* item = new QListWidgetItem(QString::fromStdString(site), SitesList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    listed_ = connInfo;
    UpdateOk();
}

void TDbLoadForm::UpdateOk() {
    bool any = false;
    for (int i = 0; i < SitesList->count(); ++i)
        any = any || SitesList->item(i)->checkState() == Qt::Checked;
    OkButton->setEnabled(!listed_.empty() && any);
}

TDbReportSource TDbLoadForm::Choice() const {
    TDbReportSource choice;
    choice.ConnInfo = listed_;
    for (int i = 0; i < SitesList->count(); ++i)
        if (SitesList->item(i)->checkState() == Qt::Checked)
            choice.Sites.push_back(SitesList->item(i)->text().toStdString());
    return choice;
}
