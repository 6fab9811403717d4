#include "acquisition/program_controller.h"

#include <QDate>
#include <QThread>
#include <boost/make_shared.hpp>
#include <cstdio>

#include <QCoreApplication>

#include "acquisition/journal_lines.h"
#include "base/sd_notify.h"
#include "config/config_files.h"
#include "link/serial_devices.h"

namespace {

// Told when a read-all met a port that failed under it.
constexpr char kReadAllFailedText[] = "В LoadFromATSMenuItemClick произошло исключение.";

constexpr char kCallLogFilter[] = "Текстовые файлы (*.txt)";

// What a headless program lacks to start, naming the file to mend and how.
std::string UnconfiguredText(const TSettings& s, bool unreadable) {
    std::string text;
    const std::string config = s.StartDir + "/" + kConfigFileName;
    if (unreadable)
        text = "Файл настроек " + config + " нельзя прочитать. ";
    else if (s.FirstStart)
        text =
            "Файл настроек " + config + " не найден или поврежден: записан новый, с портом COM1. ";
    if (s.TarifFileName.empty())
        text += "Не выбран файл для сохранения данных: запишите в " + s.StartDir + "/" +
                kOutConfigFileName + " строку TARIF_FNAME= с путем к файлу звонков. ";
    return text + "Программа без окна не начнет считывание, пока настройки не исправлены.";
}

boost::shared_ptr<TLowLevel> WithOutConfig(boost::shared_ptr<TLowLevel> ll) {
    // A missing or unreadable file leaves the defaults; start-up goes on.
    static_cast<void>(ReadOutConfig(ll->Settings));
    return ll;
}

}  // namespace

boost::shared_ptr<TLowLevel> CreateLowLevel() {
    return WithOutConfig(boost::make_shared<TLowLevel>());
}

boost::shared_ptr<TLowLevel> CreateLowLevel(std::shared_ptr<IByteLine> device,
                                            std::shared_ptr<IClock> clock) {
    return WithOutConfig(boost::make_shared<TLowLevel>(std::move(device), std::move(clock)));
}

bool StartUpFailed(TStartUpResult result) {
    switch (result) {
        case TStartUpResult::Waiting:
        case TStartUpResult::Reading:
            return false;
        case TStartUpResult::FirstStart:
        case TStartUpResult::PortFailed:
        case TStartUpResult::NoExchange:
        case TStartUpResult::NotStarted:
        case TStartUpResult::Unconfigured:
            return true;
    }
    return true;
}

TProgramController::TProgramController(IReadingForm& form, boost::shared_ptr<TLowLevel> link,
                                       TStartMode mode)
    : form_(form),
      link_(std::move(link)),
      callLog_(boost::make_shared<TCallLog>(
          link_, link_->Settings.StartDir + "/" + kUnacknowledgedFileName)),
      mode_(mode) {
    // The call-log file is one the program writes to, often before it
    // exists: the dialog is one that names a file to save to.
    openDialog1_.Save = true;
    openDialog1_.Caption = "Сохранить";
    openDialog1_.Filter = kCallLogFilter;
    openDialog1_.DefaultSuffix = "txt";
    openDialog1_.FileName = "list";
    link_->RestoreUnacknowledged(callLog_->RestoreUnacknowledged());
    link_->SetUnacknowledgedStore(callLog_.get());
}

TProgramController::~TProgramController() {
    // The thread may be waiting for a window update it handed over: the
    // wait keeps serving them.
    if (reader_) ReleaseReader(reader_, *link_);
    link_->SetUnacknowledgedStore(nullptr);
    if (madeUnattended_) seam::SetUnattended(false);
}

void TProgramController::StartUp() {
    if (started_) return;
    started_ = true;
    autoExit_ = false;
    TSettings& s = link_->Settings;
    const bool unreadable = !ReadConfig(s).Ok();
    if (unreadable)
        seam::ShowMessage("Исключение при открытии/чтении файла конфигурации.", kErrorCaption);
    openDialog1_.Directory = s.StartDir;
    if (!s.TarifFileName.empty()) openDialog1_.FileName = s.TarifFileName;
    const bool headless = mode_ == TStartMode::Headless;
    // Nobody can choose a port or a file for a headless program; its
    // output settings are the administrator's and stay as they are.
    if (headless && (unreadable || s.FirstStart || s.TarifFileName.empty())) {
        seam::ShowMessage(UnconfiguredText(s, unreadable), kErrorCaption);
        startUpResult_ = TStartUpResult::Unconfigured;
        return;
    }
    if (s.FirstStart) {
        seam::ShowMessage(
            "Это первый запуск программы Tallyphon(возможно были удалены файлы конфигурации). "
            "Выберите пункт \"Настройки\" и установите номер СОМ-порта ",
            kNoticeCaption);
        std::remove((s.StartDir + "/" + kOutConfigFileName).c_str());
        startUpResult_ = TStartUpResult::FirstStart;
        return;
    }
    // Nobody can give a command to a headless program: with no start-up
    // action it reads continuously. The settings keep their value.
    TAutoStart action = s.AutoStart;
    if (headless && action == TAutoStart::Nothing) action = TAutoStart::ReadUninterrupt;
    if (action == TAutoStart::ReadAllAndExit) {
        autoExit_ = true;
        // Nobody is there to answer a box: it would hold the read for ever.
        if (!seam::Unattended()) {
            seam::SetUnattended(true);
            madeUnattended_ = true;
        }
    }
    const TOpenPortResult r = OpenPort(s.PortName);
    switch (r) {
        case TOpenPortResult::Identified:
            seam::Journal(
                seam::TPriority::Info,
                StartLine(QCoreApplication::applicationName().toStdString(),
                          link_->Identification(), s.PortName,
                          PortDeviceOf(s.PortName, s.StartDir).Device, s.TarifFileName, action));
            // A service manager waits for this before it counts the start done.
            sd::Notify("READY=1");
            startUpResult_ = TStartUpResult::Reading;
            switch (action) {
                case TAutoStart::Nothing:
                    startUpResult_ = TStartUpResult::Waiting;
                    break;
                case TAutoStart::ReadUninterrupt:
                    ReadUninterrupt();
                    break;
                case TAutoStart::ReadAllAndExit:
                    LoadFromATS();
                    break;
            }
            // A reading that was refused (no call-log file, no exchange on
            // the second look) never started its thread.
            if (startUpResult_ == TStartUpResult::Reading &&
                !(reader_ && (reader_->isRunning() || reader_->isFinished())))
                startUpResult_ = TStartUpResult::NotStarted;
            break;
        case TOpenPortResult::PortFailed:
        case TOpenPortResult::NoExchange:
            startUpResult_ = r == TOpenPortResult::PortFailed ? TStartUpResult::PortFailed
                                                              : TStartUpResult::NoExchange;
            // An unattended start tells nobody but a log; one that reads and
            // closes closes all the same.
            if (headless) {
                ReportPortOpening(r, *link_);
            } else if (s.AutoStart == TAutoStart::Nothing) {
                ReportPortOpening(r, *link_);
                form_.ShowComputerClock();
            } else if (autoExit_) {
                form_.StartUnInterruptTimer();
            }
            break;
    }
}

TOpenPortResult TProgramController::OpenPort(const std::string& name) {
    if (link_->OpenPort(name) != TOpenResult::Opened) {
        form_.ShowNoExchange();
        return TOpenPortResult::PortFailed;
    }
    // A device that failed while answering leaves no exchange to show either.
    if (Identify() != TIdentifyResult::Identified) {
        form_.ShowNoExchange();
        return TOpenPortResult::NoExchange;
    }
    form_.ShowExchange(View());
    form_.ShowExchangeClock(link_->Identification().ExchangeClock);
    return TOpenPortResult::Identified;
}

TExchangeView TProgramController::View() const {
    TExchangeView v;
    v.Exchange = link_->Identification();
    v.RecordsInBuffer = link_->Reading.RecordsInBuffer;
    v.TarifFileName = link_->Settings.TarifFileName;
    v.RealTimeFileName = link_->Settings.RealTimeFileName;
    return v;
}

void TProgramController::ShowExchangeInfo(bool refreshClock) {
    form_.ShowExchange(View());
    if (!link_->Settings.FirstStart && link_->PortOpen()) {
        if (!refreshClock || link_->CheckLink() == TLinkCheck::Passed)
            form_.ShowExchangeClock(link_->Identification().ExchangeClock);
    }
    if (!link_->Reading.UnInterruptFlag) form_.SetUnInterruptPanel("");
}

bool TProgramController::NoCallLog() const {
    if (!link_->Settings.TarifFileName.empty()) return false;
    seam::ShowMessage("Не выбран файл для сохранения данных.", "Внимание!");
    return true;
}

ReadATSThread* TProgramController::NewReader() {
    // A new reader takes the place of the last one.
    ReleaseReader(reader_, *link_);
    reader_.reset(new ReadATSThread(&form_, link_, callLog_, [this] { return AutoExit(); }));
    reader_->SetHooks(hooks_);
    return reader_.get();
}

TIdentifyResult TProgramController::Identify() {
    const TIdentifyResult r = IdentifyAndReport(*link_);
    if (r == TIdentifyResult::Identified) hooks_->TellBufferFill(link_->Identification());
    return r;
}

void TProgramController::SetReadingHooks(TReadingHooks hooks) {
    callLog_->SetHeldHook(hooks.Held);
    hooks_->Set(std::move(hooks));
}

void TProgramController::WriteTitleBlock() {
    // Lines still waiting from an earlier run belong before this run's title.
    TReadingState& state = link_->Reading;
    for (const std::string& line : callLog_->WritePending())
        form_.ShowCallLine(line, CountWrittenLine(state), state.RejectedRecords);
    const TSettings& s = link_->Settings;
    if (!s.SaveTitle) return;
    const TCallLogTitle title = BuildTitle(link_->Identification().ExchangeClock);
    form_.AddListLine(title.TitleLine);
    form_.AddListLine(title.ColumnLine);
    // A title that cannot be written waits, in its place, as call lines do:
    // the reading writes it first and tells the operator while it cannot.
    if (callLog_->PendingCount() > 0) {
        callLog_->HoldTitle(title);
        return;
    }
    switch (WriteTitle(s, title).Result) {
        case TCallLogResult::Written:
            break;
        case TCallLogResult::Failed:
            callLog_->HoldTitle(title);
            break;
    }
}

void TProgramController::LoadFromATS() {
    TLowLevel& ll = *link_;
    if (NoCallLog()) return;
    if (ll.ClosePort() != TCloseResult::Closed) {
        seam::ShowMessage(kReadAllFailedText, "Авария!");
        return;
    }
    const TOpenPortResult r = OpenPort(ll.Settings.PortName);
    switch (r) {
        case TOpenPortResult::Identified:
            break;
        case TOpenPortResult::PortFailed:
        case TOpenPortResult::NoExchange:
            if (ll.Settings.AutoStart == TAutoStart::Nothing || mode_ == TStartMode::Headless)
                ReportPortOpening(r, ll);
            if (autoExit_) form_.StartUnInterruptTimer();
            return;
    }
    switch (Identify()) {
        case TIdentifyResult::Identified:
            break;
        case TIdentifyResult::PortError:
            seam::ShowMessage(kReadAllFailedText, "Авария!");
            return;
        case TIdentifyResult::NoEcho:
        case TIdentifyResult::NoReply:
        case TIdentifyResult::UnknownType:
        case TIdentifyResult::UnitRefused:
        case TIdentifyResult::StatusFailed:
            seam::ShowMessage("Не обнаружена АТС.", "Уведомление");
            form_.ShowNoExchange();
            return;
    }
    ReadATSThread* reader = NewReader();
    // A read-all reads once, whatever a failed continuous start left set.
    ll.Reading.UnInterruptFlag = false;
    ll.Reading.StopFlag = false;
    ll.Reading.HoldFlag = false;
    ll.Reading.RejectedRecords = 0;
    WriteTitleBlock();
    ShowExchangeInfo(false);
    reader->SetReadAll();
    seam::Journal(seam::TPriority::Info, ReadingStartedLine(false));
    reader->start(QThread::TimeCriticalPriority);
}

void TProgramController::ReadUninterrupt() {
    TLowLevel& ll = *link_;
    if (NoCallLog()) return;
    ll.Reading.RejectedRecords = 0;
    form_.SetUnInterruptPanel("Идет непрерывное считывание");
    form_.EnableStop();
    ReadATSThread* reader = NewReader();
    ll.Reading.UnInterruptFlag = true;
    ll.Reading.StopFlag = false;
    ll.Reading.HoldFlag = false;
    switch (Identify()) {
        case TIdentifyResult::Identified:
            break;
        case TIdentifyResult::PortError:
            // The command has always dropped a failed port without a word.
            return;  // the thread is not started
        case TIdentifyResult::NoEcho:
        case TIdentifyResult::NoReply:
        case TIdentifyResult::UnknownType:
        case TIdentifyResult::UnitRefused:
        case TIdentifyResult::StatusFailed:
            form_.ShowNoExchange();
            return;  // the thread is not started
    }
    ll.Reading.RejectedRecords = 0;
    form_.LockControls();
    WriteTitleBlock();
    ShowExchangeInfo(false);
    seam::Journal(seam::TPriority::Info, ReadingStartedLine(true));
    reader->start(QThread::TimeCriticalPriority);
    form_.ReleaseReadButton();
}

void TProgramController::Stop() {
    TReadingState& state = link_->Reading;
    state.StopFlag = true;
    if (state.UnInterruptFlag) form_.SetUnInterruptPanel("");
    state.UnInterruptFlag = false;
    form_.UnlockControls();
    if (autoExit_) form_.CloseForm();
}

bool TProgramController::ReaderEnded() {
    if (!reader_ || !reader_->isRunning()) return true;
    if (!link_->Reading.StopFlag) return false;
    WaitForReader(reader_.get());
    return true;
}

void TProgramController::Reload() {
    if (!ReaderEnded()) return;
    // A port that refused to close is told when it cannot be opened.
    static_cast<void>(link_->ClosePort());
    const TOpenPortResult r = OpenPort(link_->Settings.PortName);
    if (r == TOpenPortResult::Identified)
        ShowExchangeInfo(false);
    else
        ReportPortOpening(r, *link_);
}

void TProgramController::SelectCallLogFile() {
    // The reading writes to the file chosen until it has ended.
    if (!ReaderEnded()) return;
    TSettings& s = link_->Settings;
    const std::string remembered = openDialog1_.FileName;
    std::string chosen;
    // The choice is kept in memory whether or not the file takes it, as it
    // always has been.
    const bool confirmed = seam::FileDialog(openDialog1_, chosen);
    const bool storable = confirmed && StorablePath(chosen);
    // A name that could not be found again at the next start is refused; the
    // file in use stays.
    if (confirmed && !storable) seam::ShowMessage(kUnstorablePathText, kErrorCaption);
    if (!storable) {
        static_cast<void>(WriteOutConfig(s, s.TarifFileName, s.RealTimeFileName));
        return;
    }
    openDialog1_.FileName = chosen;
    s.TarifFileName = chosen;
    static_cast<void>(WriteOutConfig(s, s.TarifFileName, s.RealTimeFileName));
    if (chosen != remembered) form_.ClearList();
    // Call lines that could not be written go to the new file first.
    for (const std::string& line : callLog_->WritePending())
        form_.AddListLine(line);
    ShowExchangeInfo(true);
}

void TProgramController::OfferCallLogFile() {
    const TSettings& s = link_->Settings;
    if (s.TarifFileName.empty())
        openDialog1_.FileName =
            s.StartDir + "/calls-" + std::to_string(QDate::currentDate().year()) + ".txt";
    SelectCallLogFile();
}

TOptionsSettings TProgramController::CurrentOptions() const {
    const TSettings& s = link_->Settings;
    return {s.PortName, s.SaveTitle, s.AltFormat};
}

void TProgramController::ApplySettings(const TOptionsSettings& chosen) {
    if (!ReaderEnded()) return;
    TSettings& s = link_->Settings;
    // A port that refused to close is told when it cannot be opened.
    static_cast<void>(link_->ClosePort());
    s.PortName = chosen.PortName;
    ReportPortOpening(OpenPort(s.PortName), *link_);
    if (!WriteConfig(s, chosen.PortName, chosen.SaveTitle, chosen.AltFormat).Ok())
        seam::ShowMessage("Произошел сбой при записи файла конфигурации.", kErrorCaption);
}

bool TProgramController::MayOpenMonitor() {
    if (!SupportsLineStateQuery(link_->Identification().ModelName)) {
        seam::ShowMessage(
            "С данным типом АТС отслеживание соединений в реальном времени не работает.",
            "Предупреждение");
        return false;
    }
    // The monitor and a reading never share the port. A reading asked to
    // stop may still be ending on its thread (Stop unlocks the window at
    // once): it is waited for.
    return ReaderEnded();
}

void TProgramController::Close() {
    link_->Reading.StopFlag = true;
    if (reader_) reader_->requestInterruption();
}
