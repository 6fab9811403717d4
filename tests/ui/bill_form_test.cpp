// The "Счёт" window: the bill as a table, and its PDF through the file
// dialog, with the message of a file that cannot be written.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QPushButton>
#include <QTableView>

#include "tests/billing/bill_sample.h"
#include "tests/common/recorder.h"
#include "tests/ui/ui_test_support.h"
#include "ui/bill_form.h"

using namespace testing_support;
using namespace ui_test;

namespace {

TEST(BillWindow, ShowsTheBillLineByLine) {
    TBillForm form;
    form.SetBill(BillSample(), BillSampleTitle());
    EXPECT_EQ(form.objectName(), "BillForm");
    EXPECT_EQ(form.windowTitle(), "Счёт");
    const QAbstractItemModel* model = Child<QTableView>(form, "BillView")->model();
    // Three subscribers' zones and totals, then the grand total.
    ASSERT_EQ(model->rowCount(), 9);
    const auto row = [&](int r) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->index(r, c).data().toString();
        return cells.join('|');
    };
    EXPECT_EQ(row(0), "201|Петров П. П.|Бухгалтерия|Город|3|0:12:34|0:14:00|1178,00");
    EXPECT_EQ(row(2), "|||Без тарифа|1|0:00:30|0:00:00|");
    EXPECT_EQ(row(3), "|||Итого|5|0:14:09|0:16:00|1220,50");
    EXPECT_EQ(row(8), "Итого||||8|0:17:08|0:19:00|1225,00");
}

TEST(BillWindow, NamesTheOfficeOfASubscriberOfABillOfSeveral) {
    TBill bill = BillSample();
    bill.Sited = true;
    bill.Sites = {"Офис 1", "Офис 1", "Склад"};
    TBillForm form;
    form.SetBill(bill, BillSampleTitle());
    const QAbstractItemModel* model = Child<QTableView>(form, "BillView")->model();
    EXPECT_EQ(model->index(0, 0).data().toString(), "Офис 1: 201");
    EXPECT_EQ(model->index(6, 0).data().toString(), "Склад: 305");
    EXPECT_EQ(model->index(8, 0).data().toString(), "Итого");
}

TEST(BillWindow, TheNameColumnShowsWholeNamesAtTheDefaultSize) {
    TBill bill = BillSample();
    bill.Subscribers[0].Name = "Константинопольская-Преображенская Александра Вениаминовна";
    TBillForm form;
    form.SetBill(bill, BillSampleTitle());
    form.show();
    auto* view = Child<QTableView>(form, "BillView");
    EXPECT_GT(view->columnWidth(1), view->fontMetrics().horizontalAdvance(
                                        QString::fromStdString(bill.Subscribers[0].Name)));
}

TEST(BillWindow, SavesThePdfOrSaysWhyNot) {
    TRecorder recorder;
    TTempDir dir;
    TBillForm form;
    form.SetBill(BillSample(), BillSampleTitle());
    form.show();
    recorder.QueueFileAnswer(dir.File("bill.pdf"));
    Child<QPushButton>(form, "SavePdfButton")->click();
    EXPECT_EQ(ReadFile(dir.File("bill.pdf")).substr(0, 5), "%PDF-");
    EXPECT_TRUE(recorder.Messages().empty());
    ASSERT_EQ(recorder.FileRequests().size(), 1u);
    EXPECT_EQ(recorder.FileRequests()[0].DefaultSuffix, "pdf");

    const std::string missing = dir.File("no/bill.pdf");
    recorder.QueueFileAnswer(missing);
    Child<QPushButton>(form, "SavePdfButton")->click();
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].Caption, "Ошибка");
    EXPECT_EQ(recorder.Messages()[0].Text.rfind("Не удалось сохранить файл \"" + missing +
                                                    "\": Не создать или не открыть файл. errno = 2",
                                                0),
              0u)
        << recorder.Messages()[0].Text;
}

}  // namespace
