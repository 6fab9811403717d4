// "Загрузить из базы…" of the report window: the database to read (a libpq
// connection string) and which of its offices, listed after "Подключиться",
// all of them checked at first. The reading itself is the window's.
#pragma once

#include <functional>
#include <string>

#include <QDialog>

#include "db/db_report.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class TDbLoadForm : public QDialog {
    Q_OBJECT

  public:
    // connInfo: the connection string shown at first.
    explicit TDbLoadForm(const std::string& connInfo, QWidget* parent = nullptr);

    // The database whose offices are listed and the offices checked; what
    // to load once the dialog was accepted.
    TDbReportSource Choice() const;

  private:
    // The widgets, each found by its object name (the member's name).
    QLabel* const ConnInfoLabel;
    QLineEdit* const ConnInfoEdit;
    QPushButton* const ConnectButton;
    QLabel* const SitesLabel;
    QListWidget* const SitesList;
    QPushButton* const OkButton;
    QPushButton* const CancelButton;

    // Lists the offices of the database named in the edit; a failure is
    // told and leaves the list empty.
    void ConnectButtonClick();
    // Loading needs a listed database and at least one office checked.
    void UpdateOk();

    // The connection string the list was made from; empty when none is.
    std::string listed_;
};
