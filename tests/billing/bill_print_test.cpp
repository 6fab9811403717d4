// The bill as a PDF file, read back with poppler's pdfinfo and pdftotext.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include <QGuiApplication>

#include "billing/bill_print.h"
#include "tests/billing/bill_sample.h"
#include "tests/common/test_support.h"

using namespace testing_support;

namespace {

// Painting needs fonts, and fonts a QGuiApplication, as in the program
// that writes bills without a window.
void NeedGuiApplication() {
    if (QGuiApplication::instance()) return;
    static int argc = 3;
    static char arg0[] = "tp_reports_tests", arg1[] = "-platform", arg2[] = "offscreen";
    static char* argv[] = {arg0, arg1, arg2, nullptr};
    static QGuiApplication app(argc, argv);
}

std::string Output(const std::string& command) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0;)
        out.append(buffer, n);
    return out;
}

int PageCount(const std::string& path) {
    const std::string info = Output("pdfinfo " + path);
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::atoi(info.c_str() + at + 6);
}

TEST(BillPdf, OnePagePerDepartmentWithTitleAndTotals) {
    NeedGuiApplication();
    TTempDir dir;
    const std::string path = dir.File("bill.pdf");
    ASSERT_TRUE(WriteBillPdf(BillSample(), BillSampleTitle(), path).Ok());
    EXPECT_EQ(PageCount(path), 2);
    const std::string text = Output("pdftotext -layout " + path + " -");
    for (const char* expected :
         {"Счёт за телефонные переговоры", "Период: 01.11.2026 – 30.11.2026", "Станция: АТС офиса",
          "Составлен: 01.12.2026", "Отдел: Бухгалтерия", "Отдел: Склад", "201   Петров П. П.",
          "1178,00", "0:14:00", "Итого по счёту", "1225,00", "Стр. 1 из 2", "Стр. 2 из 2"})
        EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
}

TEST(BillPdf, ALongBillGoesOnOverFurtherPages) {
    NeedGuiApplication();
    TBill bill = BillSample();
    const TBillSubscriber one = bill.Subscribers[0];
    bill.Subscribers.clear();
    for (int i = 0; i < 60; ++i) {
        bill.Subscribers.push_back(one);
        bill.Subscribers.back().Number = std::to_string(100 + i);
        bill.Subscribers.back().Department.clear();
    }
    TTempDir dir;
    const std::string path = dir.File("bill.pdf");
    ASSERT_TRUE(WriteBillPdf(bill, BillSampleTitle(), path).Ok());
    // 60 subscribers of five rows: more than one page, every one numbered,
    // no department named.
    const std::string text = Output("pdftotext -layout " + path + " -");
    EXPECT_NE(text.find("Стр. 1 из "), std::string::npos);
    EXPECT_NE(text.find("159   Петров"), std::string::npos);
    EXPECT_EQ(text.find("Отдел"), std::string::npos);
    EXPECT_GT(PageCount(path), 1);
}

// A subscriber of more lines than a page holds goes on under its name.
TEST(BillPdf, ASubscriberRunningOntoTheNextPageIsNamedThereAgain) {
    NeedGuiApplication();
    TBill bill = BillSample();
    bill.Subscribers.resize(1);
    TBillSubscriber& s = bill.Subscribers[0];
    s.Department.clear();
    s.Zones.resize(80, s.Zones[0]);
    TTempDir dir;
    const std::string path = dir.File("bill.pdf");
    ASSERT_TRUE(WriteBillPdf(bill, BillSampleTitle(), path).Ok());
    ASSERT_EQ(PageCount(path), 2);
    const std::string first = Output("pdftotext -layout -l 1 " + path + " -");
    const std::string second = Output("pdftotext -layout -f 2 " + path + " -");
    EXPECT_EQ(first.find("(продолжение)"), std::string::npos) << first;
    EXPECT_NE(second.find("201   Петров П. П. (продолжение)"), std::string::npos) << second;
}

// A write that is refused or cancelled leaves the earlier file as it was.
TEST(BillPdf, ARefusedOrCancelledWriteLeavesTheEarlierFile) {
    NeedGuiApplication();
    TTempDir dir;
    const std::string fifo = dir.File("fifo.pdf"), kept = dir.File("kept.pdf");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    WriteFile(kept, "earlier");
    TWriteControl keep;
    keep.Keep = kept;
    TWriteControl cancel;
    cancel.Progress = [](uint64_t, uint64_t) { return false; };
    EXPECT_EQ(WriteBillPdf(BillSample(), BillSampleTitle(), fifo).Status, TFileStatus::NotAFile);
    EXPECT_EQ(WriteBillPdf(BillSample(), BillSampleTitle(), kept, keep).Status,
              TFileStatus::IsKept);
    EXPECT_EQ(WriteBillPdf(BillSample(), BillSampleTitle(), kept, cancel).Status,
              TFileStatus::Cancelled);
    EXPECT_EQ(ReadFile(kept), "earlier");
    EXPECT_TRUE(std::filesystem::is_fifo(fifo));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 2);
}

}  // namespace
