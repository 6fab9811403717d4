// The "Счёт" window: the bill of the period as a table, printed through a
// print preview or saved as a PDF file. It shows what it is given and
// makes nothing of the calls itself.
#pragma once

#include <memory>
#include <vector>

#include <QDialog>

#include "billing/bill.h"
#include "reports/output_clash.h"

class QLabel;
class QPushButton;
class QTableView;
class TBillModel;

class TBillForm : public QDialog {
    Q_OBJECT
  public:
    explicit TBillForm(QWidget* parent = nullptr);
    ~TBillForm() override;

    // Shows bill under title, in place of any bill shown before; inputs
    // are the files it was made from, which its PDF may not replace.
    void SetBill(TBill bill, TBillTitle title, std::vector<TNamedFile> inputs = {});

  public slots:
    // "Печать…": the print preview, from which the user prints.
    void Print();
    // "Сохранить PDF…": asks for a file and writes the bill there.
    void SavePdf();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

  private:
    // Each found by its object name (the member's name).
    QLabel* const TitleLabel;
    QTableView* const BillView;
    QPushButton* const PrintButton;
    QPushButton* const SavePdfButton;

    TBillModel* const model_;
    // Shared with a PDF being written off the user-interface thread.
    std::shared_ptr<const TBill> bill_;
    TBillTitle title_;
    std::vector<TNamedFile> inputs_;
    bool saving_ = false;
};
