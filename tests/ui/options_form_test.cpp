// The settings dialog: the port list, the header and format choices, OK and
// Cancel against "Tallyphon.cfg", and its opening from the main window.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTimer>

#include "acquisition/program_controller.h"
#include "config/config_files.h"
#include "tests/common/recorder.h"
#include "tests/ui/ui_test_support.h"
#include "ui/main_form.h"
#include "ui/options_form.h"

using namespace testing_support;
using namespace ui_test;

namespace {

// A main window that shows nothing.
class TQuietForm : public QObject, public IReadingForm {
  public:
    QObject* FormObject() override { return this; }
    void ShowExchange(const TExchangeView&) override {}
    void ShowExchangeClock(const TDateTimeParts&) override {}
    void ShowComputerClock() override {}
    void ShowNoExchange() override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void SetUnInterruptPanel(const std::string&) override {}
    void EnableStop() override {}
    void ReleaseReadButton() override {}
    void StartUnInterruptTimer() override {}
    void CloseForm() override {}
    void AddListLine(const std::string&) override {}
    void ClearList() override {}
    void ShowCallLine(const std::string&, int, int) override {}
};

class OptionsForm : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteSettings(dir);
        UseLink([] { return CreateLowLevel(); });
    }
    // The program's link from now on, made by makeLink.
    void UseLink(const TLinkFactory& makeLink) {
        controller.reset();
        InDirectory(dir.Path(), [&] { link = makeLink(); });
        ASSERT_EQ(ReadConfig(link->Settings).Status, TConfigStatus::Done);
        controller = std::make_unique<TProgramController>(view, link);
        form.SetApply([this](const TOptionsSettings& chosen) {
            opened.push_back(chosen.PortName);
            controller->ApplySettings(chosen);
        });
    }
    // Shows the dialog (not modally) as the main window would.
    void Show() {
        form.SetSettings(controller->CurrentOptions());
        form.show();
        QApplication::processEvents();
    }

    TRecorder recorder;
    TTempDir dir;
    boost::shared_ptr<TLowLevel> link;
    TQuietForm view;
    std::unique_ptr<TProgramController> controller;
    TOptionsForm form;
    std::vector<std::string> opened;
};

TEST_F(OptionsForm, AlwaysOffersThirtyTwoPortsAndSelectsTheCurrentOne) {
    Child<QComboBox>(form, "COMPortComboBox")->addItems({"COM9", "stale"});
    link->Settings.PortName = "COM32";
    Show();
    ASSERT_EQ(Child<QComboBox>(form, "COMPortComboBox")->count(), 32);
    EXPECT_EQ(Child<QComboBox>(form, "COMPortComboBox")->itemText(0).toStdString(), "COM1");
    EXPECT_EQ(Child<QComboBox>(form, "COMPortComboBox")->itemText(31).toStdString(), "COM32");
    EXPECT_EQ(Child<QComboBox>(form, "COMPortComboBox")->currentText().toStdString(), "COM32");
    EXPECT_TRUE(Child<QPushButton>(form, "Button2")->isEnabled());
    form.hide();
    Show();
    EXPECT_EQ(Child<QComboBox>(form, "COMPortComboBox")->count(), 32);
}

TEST_F(OptionsForm, NoPortSelectedKeepsOkDisabled) {
    link->Settings.PortName = "COM";
    const std::string before = ReadFile(dir.File("Tallyphon.cfg"));
    Show();
    EXPECT_EQ(Child<QComboBox>(form, "COMPortComboBox")->currentIndex(), -1);
    EXPECT_FALSE(Child<QPushButton>(form, "Button2")->isEnabled());
    form.Button2Click();
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.cfg")), before);
    EXPECT_TRUE(form.isVisible());
    Child<QComboBox>(form, "COMPortComboBox")->setCurrentIndex(2);
    EXPECT_TRUE(Child<QPushButton>(form, "Button2")->isEnabled());
}

struct TShowingRow {
    bool saveTitle;
    bool altFormat;
    bool boxCheckedBefore;
    bool saveTitleShown;
};

TEST_F(OptionsForm, CheckingTheAlternativeFormatAtShowingSwitchesTitlesOff) {
    for (TShowingRow row :
         {TShowingRow{true, true, false, false}, TShowingRow{true, false, false, true},
          TShowingRow{false, false, true, false},
          // Already checked: no change of state, the setting shows.
          TShowingRow{true, true, true, true}}) {
        SCOPED_TRACE(::testing::Message()
                     << row.saveTitle << row.altFormat << row.boxCheckedBefore);
        form.hide();
        Child<QCheckBox>(form, "altFormatCheckBox")->setChecked(row.boxCheckedBefore);
        link->Settings.SaveTitle = row.saveTitle;
        link->Settings.AltFormat = row.altFormat;
        Show();
        EXPECT_EQ(Child<QRadioButton>(form, "SaveTitleRadioButton")->isChecked(),
                  row.saveTitleShown);
        EXPECT_NE(Child<QRadioButton>(form, "NotSaveTitleRadioButton")->isChecked(),
                  row.saveTitleShown);
        EXPECT_EQ(Child<QCheckBox>(form, "altFormatCheckBox")->isChecked(), row.altFormat);
    }
}

TEST_F(OptionsForm, TitlesCanBeSwitchedBackOnAfterCheckingTheFormat) {
    auto exchange = StartExchange(dir.Path(), {}, "COM5");
    link->Settings.AltFormat = false;
    Show();
    Child<QCheckBox>(form, "altFormatCheckBox")->click();
    EXPECT_TRUE(Child<QRadioButton>(form, "NotSaveTitleRadioButton")->isChecked());
    Child<QCheckBox>(form, "altFormatCheckBox")->click();
    EXPECT_TRUE(Child<QRadioButton>(form, "NotSaveTitleRadioButton")->isChecked());
    Child<QCheckBox>(form, "altFormatCheckBox")->click();
    Child<QRadioButton>(form, "SaveTitleRadioButton")->click();
    Child<QComboBox>(form, "COMPortComboBox")->setCurrentIndex(4);
    Child<QPushButton>(form, "Button2")->click();
    EXPECT_EQ(opened, std::vector<std::string>{"COM5"});
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.cfg")), ConfigBytes(5, 1, 1));
    EXPECT_TRUE(link->Settings.SaveTitle);
    EXPECT_TRUE(link->Settings.AltFormat);
    EXPECT_EQ(link->Settings.PortName, "COM5");
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_FALSE(form.isVisible());
}

enum class TDevice { None, Silent, Answering };

TEST_F(OptionsForm, OkStoresTheSettingsWhateverTheOpeningGave) {
    const std::pair<TDevice, std::vector<TShownMessage>> rows[] = {
        {TDevice::None, {{"Ошибка при открытии СОМ-порта.", "Ошибка!"}}},
        {TDevice::Silent, {{"АТС не обнаружена.", "Уведомление"}}},
        {TDevice::Answering, {}},
    };
    const auto exchange = StartInMemory();
    const TSimPort port(*exchange, "COM32");
    UseLink(port.Factory());
    for (const auto& [device, messages] : rows) {
        SCOPED_TRACE(int(device));
        recorder.ClearMessages();
        port.Device->SetName(device == TDevice::None ? "" : "COM32");
        exchange->SetSilent(device == TDevice::Silent);
        Show();
        Child<QComboBox>(form, "COMPortComboBox")->setCurrentIndex(31);
        Child<QRadioButton>(form, "NotSaveTitleRadioButton")->click();
        Child<QPushButton>(form, "Button2")->click();
        EXPECT_EQ(recorder.Messages(), messages);
        EXPECT_EQ(ReadFile(dir.File("Tallyphon.cfg")), ConfigBytes(32, 0, 0));
        EXPECT_EQ(link->Settings.PortName, "COM32");
        EXPECT_EQ(link->PortOpen(), device != TDevice::None);
        EXPECT_FALSE(form.isVisible());
        WriteFile(dir.File("Tallyphon.cfg"), ConfigBytes(1, 1, 0));
        ASSERT_EQ(link->ClosePort(), TCloseResult::Closed);
    }
    controller.reset();  // the link goes before the exchange
    link.reset();
}

TEST_F(OptionsForm, AFailedWriteIsReported) {
    std::filesystem::remove(dir.File("Tallyphon.cfg"));
    std::filesystem::create_directory(dir.File("Tallyphon.cfg"));
    auto exchange = StartExchange(dir.Path());
    Show();
    Child<QPushButton>(form, "Button2")->click();
    const std::vector<TShownMessage> expected = {
        {"Произошел сбой при записи файла конфигурации.", "Ошибка!"}};
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_FALSE(form.isVisible());
}

TEST_F(OptionsForm, CancelLeavesEverythingAsItWas) {
    WriteFile(dir.File("Tallyphon.cfg"), ConfigBytes(3, 1, 0).replace(10, 3, "abc"));
    ASSERT_EQ(ReadConfig(link->Settings).Status, TConfigStatus::Done);
    const std::string before = ReadFile(dir.File("Tallyphon.cfg"));
    Show();
    Child<QComboBox>(form, "COMPortComboBox")->setCurrentIndex(20);
    Child<QCheckBox>(form, "altFormatCheckBox")->click();
    Child<QRadioButton>(form, "SaveTitleRadioButton")->click();
    Child<QPushButton>(form, "Button1")->click();
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.cfg")), before);
    EXPECT_EQ(link->Settings.PortName, "COM3");
    EXPECT_TRUE(link->Settings.SaveTitle);
    EXPECT_FALSE(link->Settings.AltFormat);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(form.result(), QDialog::Rejected);
}

TEST(OptionsFromMainWindow, OkReopensThePortUnderTheNewName) {
    TRecorder recorder;
    TTempDir dir;
    WriteSettings(dir);
    sim::TExchangeConfig second;
    second.Name = "SECOND";
    second.Units[0].Capacity = 200;
    const auto exchange = StartInMemory();
    const TSimPort port(*exchange);
    auto main = CreateMainForm(dir.Path(), port.Factory());
    ASSERT_TRUE(recorder.Messages().empty());
    ASSERT_EQ(main->StatusBar1Panel(0)->text().toStdString(), "АТС: VERANTA");
    TOptionsForm options;
    main->SetOptionsForm(&options);

    // Another exchange under COM2 now; COM1 leads nowhere.
    exchange->Stop();
    exchange->Config() = second;
    ASSERT_TRUE(exchange->StartInMemory(port.Clock->Now()));
    port.Device->SetName("COM2");
    bool shownModal = false;
    QPoint shownAt;
    QTimer::singleShot(0, [&] {
        if (QApplication::activeModalWidget() != &options) return;
        shownModal = true;
        shownAt = options.pos();
        Child<QComboBox>(options, "COMPortComboBox")->setCurrentIndex(1);
        Child<QPushButton>(options, "Button2")->click();
    });
    Child<QAction>(*main, "OptionsMenuItem")->trigger();
    EXPECT_TRUE(shownModal);
    EXPECT_EQ(shownAt, main->pos() + QPoint(25, 25));
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(main->Link()->Settings.PortName, "COM2");
    EXPECT_TRUE(main->Link()->PortOpen());
    EXPECT_EQ(main->StatusBar1Panel(0)->text().toStdString(), "АТС: SECOND");
    EXPECT_EQ(main->StatusBar1Panel(3)->text().toStdString(), "Емкость буфера : 200");
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.cfg")), ConfigBytes(2, 1, 0));

    // A silent exchange: the message, and still the settings are written.
    exchange->SetSilent(true);
    QTimer::singleShot(0, [&] {
        if (QApplication::activeModalWidget() != &options) return;
        Child<QRadioButton>(options, "NotSaveTitleRadioButton")->click();
        Child<QPushButton>(options, "Button2")->click();
    });
    main->OptionsMenuItemClick();
    const std::vector<TShownMessage> expected = {{"АТС не обнаружена.", "Уведомление"}};
    EXPECT_EQ(recorder.Messages(), expected);
    EXPECT_EQ(ReadFile(dir.File("Tallyphon.cfg")), ConfigBytes(2, 0, 0));
    EXPECT_EQ(main->StatusBar1Panel(0)->text().toStdString(), "АТС: -");
    main.reset();
}

// The text the port list shows beside the port in row.
std::string DeviceColumn(const TOptionsForm& form, int row) {
    return Child<QComboBox>(form, "COMPortComboBox")
        ->model()
        ->index(row, 1)
        .data()
        .toString()
        .toStdString();
}

TEST_F(OptionsForm, AChosenDeviceBecomesTheSelectedPortsLinkAndOpens) {
    // The simulated exchange's pseudo-terminal stands in for a USB adapter
    // with a stable by-id name.
    auto exchange = std::make_unique<sim::TSimExchange>(sim::TExchangeConfig{});
    ASSERT_TRUE(exchange->Start());
    const std::string pty = exchange->SlavePath();
    TTempDir byId;
    const std::string stable = byId.File("usb-FTDI_FT232R_A1B2-if00-port0");
    std::filesystem::create_symlink(pty, stable);
    ASSERT_EQ(StablePathOf(pty, byId.Path()), stable);
    form.SetStartDir(dir.Path());
    form.SetDeviceSource([&] {
        return std::vector<TSerialDevice>{
            {pty, StablePathOf(pty, byId.Path()), "FT232R", "FTDI", "A1B2", TDeviceAccess::Usable}};
    });
    Show();
    ASSERT_EQ(Child<QListWidget>(form, "SerialDevicesListBox")->count(), 1);
    EXPECT_EQ(Child<QListWidget>(form, "SerialDevicesListBox")->item(0)->text().toStdString(),
              pty + " - FT232R - FTDI, зав. № A1B2 (" + stable + ")");
    EXPECT_EQ(DeviceColumn(form, 0), "\u2714 /dev/ttyS0");
    ASSERT_EQ(DeviceColumn(form, 2).substr(3), "/dev/ttyS2");
    Child<QComboBox>(form, "COMPortComboBox")->setCurrentIndex(2);
    Child<QPushButton>(form, "LinkDeviceButton")->click();
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_EQ(std::filesystem::read_symlink(dir.File("COM3")), stable);
    EXPECT_EQ(DeviceColumn(form, 2), "\u2714 " + stable);
    EXPECT_EQ(Child<QLabel>(form, "COMPortDeviceLabel")->text().toStdString(), "\u2714 " + stable);
    // OK opens the port through the new link: the exchange answers.
    Child<QPushButton>(form, "Button2")->click();
    EXPECT_TRUE(recorder.Messages().empty());
    EXPECT_TRUE(link->PortOpen());
    EXPECT_EQ(link->Settings.PortName, "COM3");
}

TEST_F(OptionsForm, LinkingAsksOrRefusesAndAVanishedDeviceChangesNothing) {
    TTempDir devices;
    const std::string device = devices.File("ttyUSB7");
    WriteFile(device, "");
    const std::string ask =
        "COM2 в каталоге запуска не является ссылкой. Заменить его ссылкой на " + device + "?";
    // A directory under the private name a new link is made at keeps it
    // from being made.
    const std::string busy = ".new-link-" + std::to_string(getpid());
    struct Row {
        std::string name;
        std::function<void(const std::string&)> prepare;  // makes dir/COM2
        std::string device;
        std::vector<TShownMessage> messages;
        std::string after;  // "-> target", "fifo", a regular file's bytes, or "" for none
    };
    const std::vector<Row> rows = {
        {"replaces a link",
         [&](auto& e) { std::filesystem::create_symlink("/dev/null", e); },
         device,
         {},
         "-> " + device},
        {"asks before replacing a fifo",
         [](auto& e) { ASSERT_EQ(mkfifo(e.c_str(), 0600), 0); },
         device,
         {{ask, "Подтверждение"}},
         "-> " + device},
        {"never a regular file",
         [](auto& e) { WriteFile(e, "keep"); },
         device,
         {{"COM2 в каталоге запуска - файл или каталог, а не ссылка; он не будет заменён.",
           "Ошибка!"}},
         "keep"},
        {"a device gone since listing",
         [](auto&) {},
         devices.File("gone"),
         {{"Устройство " + devices.File("gone") + " больше не найдено. Список обновлён.",
           "Ошибка!"}},
         ""},
        {"the file system refuses, saying why",
         [&](auto& e) { std::filesystem::create_directories(e + busy + "/x"); },
         device,
         {{"Не удалось связать COM2 с " + device + ": " + std::strerror(EEXIST), "Ошибка!"}},
         ""},
    };
    form.SetStartDir(dir.Path());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string entry = dir.File("COM2");
        row.prepare(entry);
        form.SetDeviceSource([&] {
            TSerialDevice d;
            d.Path = row.device;
            return std::vector<TSerialDevice>{d};
        });
        Show();
        Child<QComboBox>(form, "COMPortComboBox")->setCurrentIndex(1);
        recorder.ClearMessages();
        Child<QPushButton>(form, "LinkDeviceButton")->click();
        EXPECT_EQ(recorder.Messages(), row.messages);
        std::string after;
        struct stat st = {};
        if (lstat(entry.c_str(), &st) == 0)
            after = S_ISLNK(st.st_mode) ? "-> " + std::filesystem::read_symlink(entry).string()
                                        : ReadFile(entry);
        EXPECT_EQ(after, row.after);
        form.hide();
        std::filesystem::remove(entry);
        std::filesystem::remove_all(entry + busy);
    }
}

// The page "Тревоги" edits the alert rules file: saved as UTF-8 over a new
// file (a link standing there is replaced, not written through), read back
// at the next showing; a refusing validator keeps the file and the dialog.
TEST_F(OptionsForm, TheAlertsPageEditsTheRulesFileAndARefusedTextKeepsIt) {
    const std::string path = dir.File("TallyphonAlerts.cfg");
    const std::string elsewhere = dir.File("elsewhere.cfg");
    WriteFile(path, "cost 100 journal\n");
    WriteFile(elsewhere, "untouched\n");
    form.SetStartDir(dir.Path());
    Show();
    auto* edit = Child<QPlainTextEdit>(form, "AlertsEdit");
    auto* save = Child<QPushButton>(form, "AlertsSaveButton");
    auto* error = Child<QLabel>(form, "AlertsErrorLabel");
    auto* tabs = Child<QTabWidget>(form, "OptionsTabs");
    EXPECT_EQ(tabs->tabText(1), "Тревоги");
    EXPECT_EQ(edit->toPlainText(), "cost 100 journal\n");
    EXPECT_NE(Child<QLabel>(form, "AlertsHelpLabel")->text().indexOf("mail:"), -1);

    std::vector<std::string> checked;
    form.SetAlertsValidator([&](const std::string& text) {
        checked.push_back(text);
        return text.find("bogus") != std::string::npos ? std::string("Строка 2: неизвестный вид")
                                                       : std::string();
    });
    edit->setPlainText("cost 100 journal\nbogus\n");
    save->click();
    EXPECT_EQ(ReadFile(path), "cost 100 journal\n");
    EXPECT_FALSE(error->isHidden());
    EXPECT_EQ(error->text(), "Строка 2: неизвестный вид");
    // OK with the refused text stays on the page and applies nothing.
    tabs->setCurrentIndex(0);
    Child<QPushButton>(form, "Button2")->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(tabs->currentIndex(), 1);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(ReadFile(path), "cost 100 journal\n");

    // A link at the name is replaced by the file, its target kept.
    ASSERT_EQ(std::remove(path.c_str()), 0);
    ASSERT_EQ(symlink(elsewhere.c_str(), path.c_str()), 0);
    edit->setPlainText("live 30 desktop,mail:админ@example.ru\nSENDMAIL=/usr/sbin/sendmail");
    save->click();
    EXPECT_TRUE(error->isHidden());
    EXPECT_EQ(checked.back(),
              "live 30 desktop,mail:админ@example.ru\nSENDMAIL=/usr/sbin/sendmail\n");
    EXPECT_EQ(ReadFile(path), checked.back());
    EXPECT_EQ(ReadFile(elsewhere), "untouched\n");
    struct stat st {};
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    form.reject();
    edit->setPlainText(QString());
    Show();
    EXPECT_EQ(edit->toPlainText().toStdString(), checked.back());
    form.reject();

    // Windows-1251 bytes are shown, but not to be saved over.
    WriteFile(path, "prefix 8\xE0 journal\n");
    Show();
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_FALSE(save->isEnabled());
    EXPECT_NE(error->text().indexOf("не в кодировке UTF-8"), -1);
    Child<QPushButton>(form, "Button2")->click();
    EXPECT_EQ(ReadFile(path), "prefix 8\xE0 journal\n");
}

TEST(OptionsNames, EveryControlIsFoundByItsName) {
    TOptionsForm form;
    for (const char* name :
         {"GroupBox1", "COMPortComboBox", "GroupBox2", "SaveTitleRadioButton",
          "NotSaveTitleRadioButton", "altFormatCheckBox", "Button2", "Button1",
          "COMPortDeviceLabel", "SerialDevicesListBox", "LinkDeviceButton", "RefreshDevicesButton",
          "OptionsTabs", "ConnectionPage", "AlertsPage", "AlertsHelpLabel", "AlertsEdit",
          "AlertsErrorLabel", "AlertsSaveButton"})
        EXPECT_NE(form.findChild<QObject*>(name), nullptr) << name;
    EXPECT_EQ(form.windowTitle().toStdString(), "Настройки программы");
    EXPECT_EQ(Child<QGroupBox>(form, "GroupBox1")->title().toStdString(), "Номер СОМ-порта");
}

}  // namespace
