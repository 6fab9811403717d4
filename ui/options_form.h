// The settings dialog: the exchange's serial port and the two call-log
// options on one page, the alert rules file on the page "Тревоги". It shows the settings it is
// given and hands the choices back on OK, to be applied at once (the port reopened under the chosen
// name, the settings stored) before it closes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <QDialog>

#include "config/settings.h"
#include "link/serial_devices.h"
#include "ui/alerts_page.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;

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

    // The start-up directory, where a "COMn" entry names the port's device.
    // The alert rules file is there too.
    void SetStartDir(const std::string& dir) {
        startDir_ = dir;
        AlertsPage->SetStartDir(dir);
    }
    // Checks the alert rules before they are saved (see TAlertsPage).
    void SetAlertsValidator(TAlertsPage::TValidator validator) {
        AlertsPage->SetValidator(std::move(validator));
    }
    // Where the list of serial devices comes from (default: those Qt Serial
    // Port finds).
    void SetDeviceSource(std::function<std::vector<TSerialDevice>()> source) {
        deviceSource_ = std::move(source);
    }

  public slots:
    // Fills the 32 ports, shows the settings given and loads the alert
    // rules file.
    void FormShow();
    // A checked alternative format switches the header lines off.
    void altFormatCheckBoxClick();
    // OK: saves alert rules that were changed, then hands the choices on to
    // be applied and closes; rules that could not be saved keep the dialog
    // open on their page, nothing applied.
    void Button2Click();
    // Cancel: closes, nothing applied.
    void Button1Click();
    // Makes the selected port's "COMn" entry a link to the selected device
    // (its stable name when it has one); asks before replacing an entry
    // that is not a link and never replaces a regular file.
    void LinkDeviceButtonClick();
    // Lists the serial devices anew.
    void RefreshDevicesButtonClick();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QTabWidget* const OptionsTabs;
    QWidget* const ConnectionPage;
    TAlertsPage* const AlertsPage;
    QGroupBox* const GroupBox1;
    QComboBox* const COMPortComboBox;
    QGroupBox* const GroupBox2;
    QRadioButton* const SaveTitleRadioButton;
    QRadioButton* const NotSaveTitleRadioButton;
    QCheckBox* const altFormatCheckBox;
    QPushButton* const Button2;
    QPushButton* const Button1;
    // The device the selected port opens; the serial devices found; the
    // command that links the selected port to the selected device.
    QLabel* const COMPortDeviceLabel;
    QListWidget* const SerialDevicesListBox;
    QPushButton* const LinkDeviceButton;
    QPushButton* const RefreshDevicesButton;

    // Writes beside each port name the device it opens, marking those that
    // exist, and the selected one's under the list.
    void ShowPortDevices();

    TOptionsSettings shown_;
    TApply apply_;
    std::string startDir_ = ".";
    std::function<std::vector<TSerialDevice>()> deviceSource_;
    std::vector<TSerialDevice> devices_;
};
