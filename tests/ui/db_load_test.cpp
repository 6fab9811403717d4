// "Загрузить из базы…" of the report window, against a PostgreSQL cluster
// of this test's own: the dialog lists the database's offices, the window
// shows the calls of those checked, and a failure changes nothing.
#include <gtest/gtest.h>

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

#include "base/cp1251.h"
#include "db/shipper.h"
#include "tools/pg_cluster/pg_cluster.h"
#include "tests/common/recorder.h"
#include "tests/common/test_support.h"
#include "tests/ui/ui_test_support.h"
#include "ui/main_form_rep.h"

using namespace testing_support;
using ui_test::Child;

namespace {

// Ships the call lines (UTF-8) as the calls of site.
void Ship(const std::string& conn, const TTempDir& dir, const std::string& site,
          std::initializer_list<std::string> lines) {
    std::string bytes;
    for (const std::string& l : lines)
        bytes += Utf8ToCp1251(l) + "\r\n";
    WriteFile(dir.File(site + ".txt"), bytes);
    TShipper shipper({conn, site});
    const TShipResult r = shipper.ShipPending({dir.File(site + ".txt"), "QTV610", "1"});
    ASSERT_EQ(r.State, TShipState::CaughtUp) << r.Error;
}

// Runs act on the dialog once it is open, from within its own loop.
void OnDialog(const std::function<void(QWidget&)>& act) {
    QTimer::singleShot(0, [act] {
        const auto open = [] {
            QWidget* modal = QApplication::activeModalWidget();
            return modal && modal->objectName() == "DbLoadForm";
        };
        if (ui_test::WaitUntil(open)) act(*QApplication::activeModalWidget());
    });
}

QString Header(QTableView* grid, int column) {
    return grid->model()->headerData(column, Qt::Horizontal).toString();
}

TEST(DbLoad, TheCheckedOfficesAreLoadedAndAFailureChangesNothing) {
    TPgCluster cluster;
    TTempDir dir;
    const std::string conn = cluster.CreateDatabase("dbload");
    Ship(conn, dir, "Склад", {"05-03-2007 14:02:07   00:01:35   12( 121)     200     5551234"});
    Ship(conn, dir, "Офис 1",
         {"06-03-2007 09:00:59   01:00:00   7(  17)      14     8*10495551234",
          "06-03-2007 10:00:00   00:00:20   12( 300)     14     55"});
    WriteFile(dir.File("TallyphonDb.cfg"), "CONNINFO=" + conn + "\nSITE=Склад\n");
    TRecorder recorder;
    TMainForm_rep form;
    form.SetDialogsDir(dir.Path());
    form.show();
    auto* calls = Child<QTableView>(form, "StringGrid1");
    auto* lines = Child<QTableView>(form, "ALGrid");

    OnDialog([&](QWidget& dialog) {
        EXPECT_EQ(Child<QLineEdit>(dialog, "ConnInfoEdit")->text().toStdString(), conn);
        EXPECT_FALSE(Child<QPushButton>(dialog, "OkButton")->isEnabled());
        Child<QPushButton>(dialog, "ConnectButton")->click();
        auto* sites = Child<QListWidget>(dialog, "SitesList");
        ASSERT_EQ(sites->count(), 2);
        EXPECT_EQ(sites->item(0)->text(), "Офис 1");
        EXPECT_EQ(sites->item(1)->checkState(), Qt::Checked);
        Child<QPushButton>(dialog, "OkButton")->click();
    });
    Child<QAction>(form, "LoadFromDbMenuItem")->trigger();
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(Child<QGroupBox>(form, "FileGroupBox")->title(), "Звонков: 3");
    ASSERT_EQ(calls->model()->rowCount(), 3);
    EXPECT_EQ(Header(calls, 0), "Площадка");
    EXPECT_EQ(calls->model()->index(2, 0).data().toString(), "Склад");
    ASSERT_EQ(lines->model()->rowCount(), 3);  // line 12 of each office
    EXPECT_EQ(lines->model()->index(1, 2).data().toString(), "300");

    // One office, but the server is gone by the time it is loaded.
    OnDialog([&](QWidget& dialog) {
        EXPECT_EQ(Child<QLineEdit>(dialog, "ConnInfoEdit")->text().toStdString(), conn);
        Child<QPushButton>(dialog, "ConnectButton")->click();
        Child<QListWidget>(dialog, "SitesList")->item(0)->setCheckState(Qt::Unchecked);
        cluster.Stop();
        Child<QPushButton>(dialog, "OkButton")->click();
    });
    Child<QAction>(form, "LoadFromDbMenuItem")->trigger();
    ASSERT_EQ(recorder.Messages().size(), 1u);
    EXPECT_EQ(recorder.Messages()[0].Text.rfind("Не удалось загрузить звонки из базы данных: ", 0),
              0u)
        << recorder.Messages()[0].Text;
    EXPECT_EQ(calls->model()->rowCount(), 3);
    EXPECT_EQ(Header(calls, 0), "Площадка");

    // A database that cannot be reached lists no office to load.
    OnDialog([&](QWidget& dialog) {
        Child<QLineEdit>(dialog, "ConnInfoEdit")
            ->setText("host=" + QString::fromStdString(dir.Path()) + " port=1");
        Child<QPushButton>(dialog, "ConnectButton")->click();
        EXPECT_EQ(Child<QListWidget>(dialog, "SitesList")->count(), 0);
        EXPECT_FALSE(Child<QPushButton>(dialog, "OkButton")->isEnabled());
        Child<QPushButton>(dialog, "CancelButton")->click();
    });
    Child<QAction>(form, "LoadFromDbMenuItem")->trigger();
    ASSERT_EQ(recorder.Messages().size(), 2u);
    EXPECT_EQ(recorder.Messages()[1].Text.rfind("Не удалось подключиться к базе данных: ", 0), 0u);
    EXPECT_EQ(calls->model()->rowCount(), 3);
}

}  // namespace
