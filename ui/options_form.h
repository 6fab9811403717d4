// The settings dialog: the exchange's serial port and the two call-log
// options. OK applies them at once: the port is reopened under the chosen
// name and the settings go to the link context and to "Tallyphon.cfg".
#pragma once

#include <functional>
#include <string>

#include <boost/shared_ptr.hpp>

#include <QDialog>

#include "low_level.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QPushButton;
class QRadioButton;

// The choices the dialog shows.
struct TOptionsSettings {
    std::string PortName;  // empty while no port is selected
    bool SaveTitle = true;
    bool AltFormat = false;
};

class TOptionsForm : public QDialog {
    Q_OBJECT
  public:
    // Opens the port under a name and identifies the exchange: 1, -1 the
    // port failed, -2 no exchange answered.
    using TOpenPort = std::function<int(const std::string&)>;

    explicit TOptionsForm(QWidget* parent = nullptr);

    // The context the dialog shows and changes; set before every showing.
    void SetLink(boost::shared_ptr<TLowLevel> link) { link_ = std::move(link); }
    boost::shared_ptr<TLowLevel> Link() const { return link_; }
    // How OK reopens the port, and how it has the main window redrawn after.
    void SetOpenPort(TOpenPort openPort) { openPort_ = std::move(openPort); }
    void SetRefresh(std::function<void()> refresh) { refresh_ = std::move(refresh); }

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
    // Fills the 32 ports and shows the settings of the link context.
    void FormShow();
    // A checked alternative format switches the header lines off.
    void altFormatCheckBoxClick();
    // OK: reopens the port, stores the settings, closes.
    void Button2Click();
    // Cancel: closes, nothing applied.
    void Button1Click();

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    boost::shared_ptr<TLowLevel> link_;
    TOpenPort openPort_;
    std::function<void()> refresh_;
};
