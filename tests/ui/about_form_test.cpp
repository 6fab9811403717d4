// The About window: its three lines at every showing, and its place.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStatusBar>

#include "tests/common/recorder.h"
#include "tests/ui/ui_test_support.h"
#include "ui/about_form.h"
#include "ui/main_form.h"

using namespace testing_support;
using namespace ui_test;

namespace {

TEST(AboutForm, ShowsTheSameThreeLinesAtEveryShowing) {
    TAboutForm about;
    const QStringList expected = {
        "Данная программа предназначена для работы с АТС типа VERANTA QTV610/930, QS16/20, "
        "QS31/53 и QS800.",
        "",
        "Пожелания по усовершенствованию и сообщения о найденных ошибках, отправляйте по адресу: "
        "tallyphon-support@example.org"};
    for (int showing = 0; showing < 2; ++showing) {
        about.show();
        QApplication::processEvents();
        EXPECT_EQ(about.findChild<QPlainTextEdit*>("Memo1")->toPlainText().split('\n'), expected)
            << showing;
        about.hide();
    }
    EXPECT_EQ(about.windowTitle().toStdString(), "О программе");
    EXPECT_TRUE(about.findChild<QPlainTextEdit*>("Memo1")->isReadOnly());
    EXPECT_EQ(about.size(), QSize(630, 169));
    EXPECT_EQ(about.findChild<QStatusBar*>("StatusBar1")->height(), 19);
    EXPECT_EQ(about.findChild<QLabel*>("VersionLabel")->text().toStdString(), "Версия 2.28");
    EXPECT_EQ(about.objectName(), "AboutForm");
    EXPECT_NE(about.findChild<QObject*>("Memo1"), nullptr);
    EXPECT_NE(about.findChild<QObject*>("StatusBar1"), nullptr);
}

TEST(AboutForm, OpensBesideTheMainWindowWithoutBlockingIt) {
    TRecorder recorder;
    TTempDir dir;
    WriteSettings(dir);
    auto exchange = StartExchange(dir.Path());
    auto main = CreateMainForm(dir.Path());
    TAboutForm about;
    main->SetAboutForm(&about);
    Child<QAction>(*main, "AboutMenuItem")->trigger();
    QApplication::processEvents();
    EXPECT_TRUE(about.isVisible());
    EXPECT_FALSE(about.isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(about.pos(), main->pos() + QPoint(20, 20));
    EXPECT_EQ(about.findChild<QPlainTextEdit*>("Memo1")->toPlainText().split('\n').size(), 3);
    main.reset();
}

}  // namespace
