#include "ui/bill_form.h"

#include <sys/stat.h>

#include <vector>

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include "base/message_seam.h"
#include "billing/bill_print.h"
#include "reports/report_export.h"
#include "ui/run_aside.h"

namespace {

QString Q(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Hms(int64_t seconds) {
    return QString("%1:%2:%3")
        .arg(seconds / 3600)
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

enum TColumn { kNumber, kName, kDepartment, kZone, kCalls, kSeconds, kBilled, kCost, kColumns };

}  // namespace

// The bill's lines as the bill CSV has them: per subscriber its zones and
// "Итого", then the grand total. Rows only point into the bill, so a bill
// of thousands of subscribers costs a few bytes a row.
class TBillModel : public QAbstractTableModel {
  public:
    using QAbstractTableModel::QAbstractTableModel;

    void SetBill(std::shared_ptr<const TBill> bill) {
        beginResetModel();
        bill_ = std::move(bill);
        rows_.clear();
        for (const TBillSubscriber& s : bill_->Subscribers) {
            for (const TBillLine& zone : s.Zones)
                rows_.push_back({&s, &zone});
            rows_.push_back({&s, &s.Total});
        }
        rows_.push_back({nullptr, &bill_->Total});
        endResetModel();
    }

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(rows_.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : kColumns;
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        static const char* const heads[kColumns] = {"Абонент",        "Имя",      "Отдел",
                                                    "Зона",           "Звонков",  "Длительность",
                                                    "Тарифицировано", "Стоимость"};
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
            section < kColumns)
            return QString::fromUtf8(heads[section]);
        return {};
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || size_t(index.row()) >= rows_.size()) return {};
        const TRow& row = rows_[size_t(index.row())];
        const bool total = !row.Subscriber || row.Line == &row.Subscriber->Total;
        if (role == Qt::FontRole && total) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignVCenter |
                       (index.column() >= kCalls ? Qt::AlignRight : Qt::AlignLeft));
        if (role != Qt::DisplayRole) return {};
        // A subscriber is named on its first line only.
        const bool first = row.Subscriber && row.Line == (row.Subscriber->Zones.empty()
                                                              ? &row.Subscriber->Total
                                                              : &row.Subscriber->Zones.front());
        switch (index.column()) {
            case kNumber:
                return !row.Subscriber ? QString("Итого")
                       : first         ? Q(BillSubscriberLabel(*bill_, *row.Subscriber))
                                       : QString();
            case kName:
                return first ? Q(row.Subscriber->Name) : QString();
            case kDepartment:
                return first ? Q(row.Subscriber->Department) : QString();
            case kZone:
                return row.Subscriber ? Q(row.Line->Zone) : QString();
            case kCalls:
                return QString::number(row.Line->Calls);
            case kSeconds:
                return Hms(row.Line->Seconds);
            case kBilled:
                return Hms(row.Line->Billed);
            case kCost:
                return row.Line->Priced ? Q(KopecksText(row.Line->Cost)) : QString();
        }
        return {};
    }

  private:
    struct TRow {
        const TBillSubscriber* Subscriber;  // nullptr: the grand total
        const TBillLine* Line;
    };
    std::shared_ptr<const TBill> bill_;
    std::vector<TRow> rows_;
};

TBillForm::TBillForm(QWidget* parent)
    : QDialog(parent),
      TitleLabel(new QLabel(this)),
      BillView(new QTableView(this)),
      PrintButton(new QPushButton("Печать…", this)),
      SavePdfButton(new QPushButton("Сохранить PDF…", this)),
      model_(new TBillModel(this)),
      bill_(std::make_shared<TBill>()) {
    setObjectName("BillForm");
    setWindowTitle("Счёт");
    TitleLabel->setObjectName("TitleLabel");
    BillView->setObjectName("BillView");
    PrintButton->setObjectName("PrintButton");
    SavePdfButton->setObjectName("SavePdfButton");
    // The bill is read, not edited.
    BillView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    BillView->setSelectionBehavior(QAbstractItemView::SelectRows);
    BillView->verticalHeader()->hide();
    // Rows of one height, so a bill of many pages scrolls without
    // measuring every row.
    BillView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    BillView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    BillView->setModel(model_);
    // Every column as wide as its texts, names included (a stretched one
    // would be cut to what the others leave); the last takes what is left.
    BillView->horizontalHeader()->setStretchLastSection(true);
    connect(PrintButton, &QPushButton::clicked, this, &TBillForm::Print);
    connect(SavePdfButton, &QPushButton::clicked, this, &TBillForm::SavePdf);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PrintButton);
    buttons->addWidget(SavePdfButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(TitleLabel);
    layout->addWidget(BillView);
    layout->addLayout(buttons);
    resize(860, 560);
    SetBill({}, {});
}

TBillForm::~TBillForm() = default;

void TBillForm::SetBill(TBill bill, TBillTitle title, std::vector<TNamedFile> inputs) {
    bill_ = std::make_shared<const TBill>(std::move(bill));
    title_ = std::move(title);
    inputs_ = std::move(inputs);
    QString text = "Период: " + Q(title_.Period);
    if (!title_.ExchangeName.empty()) text += "    Станция: " + Q(title_.ExchangeName);
    TitleLabel->setText(text + "    Составлен: " + Q(title_.MadeOn));
    model_->SetBill(bill_);
    BillView->resizeColumnsToContents();
}

void TBillForm::Print() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageMargins(QMarginsF(15, 12, 12, 12), QPageLayout::Millimeter);
    printer.setDocName("Счёт");
    QPrintPreviewDialog preview(&printer, this);
    preview.setObjectName("PrintPreview");
    preview.setWindowTitle("Счёт: предварительный просмотр");
    preview.resize(820, 900);
    const std::shared_ptr<const TBill> bill = bill_;
    connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
            [&](QPrinter* device) { PaintBill(*device, *bill, title_); });
    preview.exec();
}

void TBillForm::SavePdf() {
    seam::TFileRequest request;
    request.Save = true;
    request.Caption = "Сохранить счёт в PDF";
    request.FileName = "Счёт.pdf";
    request.DefaultSuffix = "pdf";
    request.Filter = "PDF (*.pdf)";
    seam::TFileChoice choice;
    if (!seam::ChooseFile(request, choice)) return;
    const std::string path = choice.Path;
    if (const TFileResult refused = ExportRefusal(path, {}); !refused.Ok()) {
        seam::ShowMessage(ExportFailureMessage(refused, path), "Ошибка");
        return;
    }
    if (const std::string clash = InputClash(path, inputs_); !clash.empty()) {
        seam::ShowMessage(clash, "Ошибка");
        return;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 &&
        seam::ShowMessage("Такой файл уже существует. Перезапишем?", "Предупреждение!",
                          seam::TButtons::OkCancel) != seam::kAnswerOk)
        return;
    // Hundreds of pages take a while to paint: off this thread, with the
    // window closed to input until the file is written.
    saving_ = true;
    setEnabled(false);
    const TFileResult result =
        WriteAside([&, bill = bill_, title = title_] { return WriteBillPdf(*bill, title, path); });
    setEnabled(true);
    saving_ = false;
    if (!result.Ok()) seam::ShowMessage(ExportFailureMessage(result, path), "Ошибка");
}

void TBillForm::closeEvent(QCloseEvent* event) {
    if (saving_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TBillForm::reject() {
    if (!saving_) QDialog::reject();
}
