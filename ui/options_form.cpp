#include "ui/options_form.h"

#include <cstring>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTreeView>
#include <QVBoxLayout>

#include "acquisition/port_messages.h"
#include "base/message_seam.h"
#include "config/config_files.h"
#include "ui/fixed_height_delegate.h"

namespace {

void MakeBold(QWidget* w) {
    QFont f = w->font();
    f.setBold(true);
    w->setFont(f);
}

}  // namespace

TOptionsForm::TOptionsForm(QWidget* parent)
    : QDialog(parent),
      OptionsTabs(new QTabWidget),
      ConnectionPage(new QWidget),
      AlertsPage(new TAlertsPage),
      GroupBox1(new QGroupBox("Номер СОМ-порта")),
      COMPortComboBox(new QComboBox),
      GroupBox2(new QGroupBox("Заголовок файла")),
      SaveTitleRadioButton(new QRadioButton("Сохранять заголовок в файле")),
      NotSaveTitleRadioButton(new QRadioButton("Не сохранять заголовок")),
      altFormatCheckBox(new QCheckBox("Сохранять данные в альтернативном формате.")),
      Button2(new QPushButton("OK")),
      Button1(new QPushButton("Cancel")),
      COMPortDeviceLabel(new QLabel),
      SerialDevicesListBox(new QListWidget),
      LinkDeviceButton(new QPushButton("Связать СОМ-порт с устройством")),
      RefreshDevicesButton(new QPushButton("Обновить")),
      deviceSource_([] { return FindSerialDevices(); }) {
    setObjectName("OptionsForm");
    setWindowTitle("Настройки программы");
    OptionsTabs->setObjectName("OptionsTabs");
    ConnectionPage->setObjectName("ConnectionPage");
    GroupBox1->setObjectName("GroupBox1");
    COMPortComboBox->setObjectName("COMPortComboBox");
    GroupBox2->setObjectName("GroupBox2");
    SaveTitleRadioButton->setObjectName("SaveTitleRadioButton");
    NotSaveTitleRadioButton->setObjectName("NotSaveTitleRadioButton");
    altFormatCheckBox->setObjectName("altFormatCheckBox");
    Button2->setObjectName("Button2");
    Button1->setObjectName("Button1");
    COMPortDeviceLabel->setObjectName("COMPortDeviceLabel");
    SerialDevicesListBox->setObjectName("SerialDevicesListBox");
    LinkDeviceButton->setObjectName("LinkDeviceButton");
    RefreshDevicesButton->setObjectName("RefreshDevicesButton");

    // Bold captions only: the controls inside keep the normal font.
    GroupBox1->setStyleSheet("QGroupBox#GroupBox1 { font-weight: bold; }");
    GroupBox2->setStyleSheet("QGroupBox#GroupBox2 { font-weight: bold; }");
    MakeBold(altFormatCheckBox);
    MakeBold(Button2);
    COMPortComboBox->setEditable(false);
    // The list shows each port name with the device it opens beside it; the
    // name alone is the item's text.
    auto* portView = new QTreeView;
    portView->setHeaderHidden(true);
    portView->setRootIsDecorated(false);
    portView->setItemsExpandable(false);
    portView->setAllColumnsShowFocus(true);
    COMPortComboBox->setView(portView);
    COMPortComboBox->setItemDelegate(new TFixedHeightDelegate(16, COMPortComboBox));
    COMPortDeviceLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    SerialDevicesListBox->setMinimumWidth(420);
    SerialDevicesListBox->setMaximumHeight(110);

    auto* portLayout = new QVBoxLayout(GroupBox1);
    portLayout->addWidget(COMPortComboBox);
    portLayout->addWidget(COMPortDeviceLabel);
    portLayout->addWidget(new QLabel("Найденные последовательные устройства:"));
    portLayout->addWidget(SerialDevicesListBox);
    auto* deviceButtons = new QHBoxLayout;
    deviceButtons->addWidget(LinkDeviceButton);
    deviceButtons->addWidget(RefreshDevicesButton);
    deviceButtons->addStretch();
    portLayout->addLayout(deviceButtons);
    auto* titleLayout = new QVBoxLayout(GroupBox2);
    titleLayout->addWidget(SaveTitleRadioButton);
    titleLayout->addWidget(NotSaveTitleRadioButton);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    auto* connection = new QVBoxLayout(ConnectionPage);
    connection->addWidget(GroupBox1);
    connection->addWidget(GroupBox2);
    connection->addWidget(altFormatCheckBox);
    OptionsTabs->addTab(ConnectionPage, "Соединение");
    OptionsTabs->addTab(AlertsPage, "Тревоги");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(OptionsTabs);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Button2->setDefault(true);
    // Not possible until a port is selected.
    Button2->setEnabled(false);
    connect(COMPortComboBox, &QComboBox::currentIndexChanged, this, [this](int index) {
        Button2->setEnabled(index >= 0);
        ShowPortDevices();
    });
    connect(SerialDevicesListBox, &QListWidget::currentRowChanged, this, [this](int row) {
        LinkDeviceButton->setEnabled(row >= 0 && COMPortComboBox->currentIndex() >= 0);
    });
    connect(LinkDeviceButton, &QPushButton::clicked, this, &TOptionsForm::LinkDeviceButtonClick);
    connect(RefreshDevicesButton, &QPushButton::clicked, this,
            &TOptionsForm::RefreshDevicesButtonClick);
    // A change made by FormShow counts like a click, as a user's does.
    connect(altFormatCheckBox, &QCheckBox::toggled, this, &TOptionsForm::altFormatCheckBoxClick);
    connect(Button2, &QPushButton::clicked, this, &TOptionsForm::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TOptionsForm::Button1Click);
}

TOptionsSettings TOptionsForm::Settings() const {
    TOptionsSettings s;
    if (COMPortComboBox->currentIndex() >= 0)
        s.PortName = COMPortComboBox->currentText().toStdString();
    s.SaveTitle = SaveTitleRadioButton->isChecked();
    s.AltFormat = altFormatCheckBox->isChecked();
    return s;
}

void TOptionsForm::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TOptionsForm::FormShow() {
    COMPortComboBox->clear();
    for (int n = 1; n <= kMaxPortNumber; ++n)
        COMPortComboBox->addItem(QString("COM%1").arg(n));
    const QString port = QString::fromStdString(shown_.PortName);
    COMPortComboBox->setCurrentIndex(COMPortComboBox->findText(port, Qt::MatchExactly));
    Button2->setEnabled(COMPortComboBox->currentIndex() >= 0);
    (shown_.SaveTitle ? SaveTitleRadioButton : NotSaveTitleRadioButton)->setChecked(true);
    altFormatCheckBox->setChecked(shown_.AltFormat);
    RefreshDevicesButtonClick();
    AlertsPage->Load();
}

void TOptionsForm::ShowPortDevices() {
    auto* model = qobject_cast<QStandardItemModel*>(COMPortComboBox->model());
    if (!model) return;
    model->setColumnCount(2);
    for (int row = 0; row < model->rowCount(); ++row) {
        const std::string port = model->item(row, 0)->text().toStdString();
        const TPortDevice p = PortDeviceOf(port, startDir_);
        QString text = QString::fromStdString(p.Device);
        if (p.Link && !p.Exists) text += " - ссылка никуда не ведёт";
        auto* item = new QStandardItem((p.Exists ? "\u2714 " : "   ") + text);
        item->setToolTip(p.Exists ? "Устройство есть" : "Устройства нет");
        if (!p.Exists) item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
        model->setItem(row, 1, item);
    }
    if (auto* view = qobject_cast<QTreeView*>(COMPortComboBox->view())) {
        view->resizeColumnToContents(0);
        view->resizeColumnToContents(1);
        view->setMinimumWidth(view->columnWidth(0) + view->columnWidth(1) + 24);
    }
    const int index = COMPortComboBox->currentIndex();
    COMPortDeviceLabel->setText(index < 0 ? QString() : model->item(index, 1)->text().trimmed());
    LinkDeviceButton->setEnabled(index >= 0 && SerialDevicesListBox->currentRow() >= 0);
}

void TOptionsForm::RefreshDevicesButtonClick() {
    devices_ = deviceSource_ ? deviceSource_() : std::vector<TSerialDevice>{};
    SerialDevicesListBox->clear();
    for (const TSerialDevice& d : devices_)
        SerialDevicesListBox->addItem(QString::fromStdString(DeviceLabel(d)));
    if (!devices_.empty()) SerialDevicesListBox->setCurrentRow(0);
    ShowPortDevices();
}

void TOptionsForm::LinkDeviceButtonClick() {
    const int row = SerialDevicesListBox->currentRow();
    if (COMPortComboBox->currentIndex() < 0 || row < 0 || row >= static_cast<int>(devices_.size()))
        return;
    const TSerialDevice device = devices_[row];
    const std::string port = COMPortComboBox->currentText().toStdString();
    const std::string target = device.StablePath.empty() ? device.Path : device.StablePath;
    TPortLinkResult r = MakePortLink(startDir_, port, target, false);
    if (r == TPortLinkResult::AskToReplace) {
        const int answer = seam::ShowMessage(
            port + " в каталоге запуска не является ссылкой. Заменить его ссылкой на " + target +
                "?",
            "Подтверждение", seam::TButtons::OkCancel);
        if (answer != seam::kAnswerOk) return;
        r = MakePortLink(startDir_, port, target, true);
    }
    switch (r) {
        case TPortLinkResult::Linked:
            if (device.Access == TDeviceAccess::NoPermission)
                seam::ShowMessage(NoPermissionText(target), "Предупреждение");
            break;
        case TPortLinkResult::TargetGone:
            seam::ShowMessage("Устройство " + target + " больше не найдено. Список обновлён.",
                              kErrorCaption);
            RefreshDevicesButtonClick();
            break;
        case TPortLinkResult::AskToReplace:
            break;
        case TPortLinkResult::RegularFile:
            seam::ShowMessage(port +
                                  " в каталоге запуска - файл или каталог, а не ссылка; он не "
                                  "будет заменён.",
                              kErrorCaption);
            break;
        case TPortLinkResult::Failed:
            seam::ShowMessage("Не удалось связать " + port + " с " + target + ": " +
                                  std::strerror(LastPortLinkError()),
                              kErrorCaption);
            break;
    }
    ShowPortDevices();
}

void TOptionsForm::altFormatCheckBoxClick() {
    if (altFormatCheckBox->isChecked()) NotSaveTitleRadioButton->setChecked(true);
}

void TOptionsForm::Button2Click() {
    if (COMPortComboBox->currentIndex() < 0) return;
    if (AlertsPage->Modified() && !AlertsPage->Save()) {
        OptionsTabs->setCurrentWidget(AlertsPage);
        return;
    }
    const TOptionsSettings chosen = Settings();
    if (apply_) apply_(chosen);
    accept();
}

void TOptionsForm::Button1Click() {
    reject();
}
