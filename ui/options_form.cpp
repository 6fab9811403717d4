#include "options_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "config_files.h"
#include "fixed_height_delegate.h"

namespace {

void MakeBold(QWidget* w) {
    QFont f = w->font();
    f.setBold(true);
    w->setFont(f);
}

}  // namespace

TOptionsForm::TOptionsForm(QWidget* parent)
    : QDialog(parent),
      GroupBox1(new QGroupBox("Номер СОМ-порта")),
      COMPortComboBox(new QComboBox),
      GroupBox2(new QGroupBox("Заголовок файла")),
      SaveTitleRadioButton(new QRadioButton("Сохранять заголовок в файле")),
      NotSaveTitleRadioButton(new QRadioButton("Не сохранять заголовок")),
      altFormatCheckBox(new QCheckBox("Сохранять данные в альтернативном формате.")),
      Button2(new QPushButton("OK")),
      Button1(new QPushButton("Cancel")) {
    setObjectName("OptionsForm");
    setWindowTitle("Настройки программы");
    GroupBox1->setObjectName("GroupBox1");
    COMPortComboBox->setObjectName("COMPortComboBox");
    GroupBox2->setObjectName("GroupBox2");
    SaveTitleRadioButton->setObjectName("SaveTitleRadioButton");
    NotSaveTitleRadioButton->setObjectName("NotSaveTitleRadioButton");
    altFormatCheckBox->setObjectName("altFormatCheckBox");
    Button2->setObjectName("Button2");
    Button1->setObjectName("Button1");

    // Bold captions only: the controls inside keep the normal font.
    GroupBox1->setStyleSheet("QGroupBox#GroupBox1 { font-weight: bold; }");
    GroupBox2->setStyleSheet("QGroupBox#GroupBox2 { font-weight: bold; }");
    MakeBold(altFormatCheckBox);
    MakeBold(Button2);
    COMPortComboBox->setEditable(false);
    COMPortComboBox->setItemDelegate(new TFixedHeightDelegate(16, COMPortComboBox));

    auto* portLayout = new QVBoxLayout(GroupBox1);
    portLayout->addWidget(COMPortComboBox);
    auto* titleLayout = new QVBoxLayout(GroupBox2);
    titleLayout->addWidget(SaveTitleRadioButton);
    titleLayout->addWidget(NotSaveTitleRadioButton);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button2);
    buttons->addWidget(Button1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(GroupBox1);
    layout->addWidget(GroupBox2);
    layout->addWidget(altFormatCheckBox);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    Button2->setDefault(true);
    // Not possible until a port is selected.
    Button2->setEnabled(false);
    connect(COMPortComboBox, &QComboBox::currentIndexChanged, this,
            [this](int index) { Button2->setEnabled(index >= 0); });
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
}

void TOptionsForm::altFormatCheckBoxClick() {
    if (altFormatCheckBox->isChecked()) NotSaveTitleRadioButton->setChecked(true);
}

void TOptionsForm::Button2Click() {
    if (COMPortComboBox->currentIndex() < 0) return;
    const TOptionsSettings chosen = Settings();
    if (apply_) apply_(chosen);
    accept();
}

void TOptionsForm::Button1Click() {
    reject();
}
