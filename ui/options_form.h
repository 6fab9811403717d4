// The settings dialog: the exchange's serial port and the two call-log
// options. It shows the settings it is given and hands the choices back on
// OK, to be applied at once (the port reopened under the chosen name, the
// settings stored) before it closes.
#pragma once

#include <functional>
#include <string>

#include <QDialog>

#include "settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

class TOptionsForm : public QDialog {
    Q_OBJECT
  public:
    using TApply = std::function<void(const TOptionsSettings&)>;

    explicit TOptionsForm(QWidget* parent = nullptr);

    // The settings the next showing starts from.
    void SetSettings(const TOptionsSettings& settings) { shown_ = settings; }
    // What OK does with the choices before the dialog closes.
    void SetApply(TApply apply) { apply_ = std::move(apply); }

    // The choices as the controls show them now.
    TOptionsSettings Settings() const;

    QGroupBox* const GroupBox1;
    QComboBox* const COMPortComboBox;
    QGroupBox* const GroupBox2;
    QRadioButton* const SaveTitleRadioButton;
    QRadioButton* const NotSaveTitleRadioButton;
    QCheckBox* const altFormatCheckBox;
    QPushButton* const Button2;
    QPushButton* const Button1;

  public slots:
    // Fills the 32 ports and shows the settings given.
    void FormShow();
    // A checked alternative format switches the header lines off.
    void altFormatCheckBoxClick();
    // OK: hands the choices on to be applied, closes.
    void Button2Click();
    // Cancel: closes, nothing applied.
    void Button1Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    TOptionsSettings shown_;
    TApply apply_;
};
