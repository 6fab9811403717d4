#include "acquisition/read_ats_thread.h"

#include <pthread.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "acquisition/journal_lines.h"
#include "acquisition/port_messages.h"
#include "base/message_seam.h"
#include "base/sd_notify.h"
#include "link/serial_devices.h"

namespace {

// The reading keeps pace with the line only when its thread runs as soon as
// a byte arrives. Qt's time-critical priority changes nothing under Linux's
// normal policy: the lowest real-time priority is asked for instead, where
// the system grants it (root, or a real-time limit such as systemd's
// LimitRTPRIO); otherwise the thread runs as any other. The thread only
// ever waits for the line, the disk or the window, so it cannot starve
// them.
void RaiseToRealTime() {
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_FIFO, &param));
}

}  // namespace

struct ReadATSThread::TShownLines {
    struct TLine {
        std::string Text;
        int RecordsInBuffer;
        int RejectedRecords;
    };
    IReadingForm* Form;
    std::atomic<bool> Detached{false};
    std::mutex Mutex;
    std::vector<TLine> Lines;
    // Set while a hand-over of Lines is on its way.
    bool Posted = false;
    // When lines were last shown (the form's thread only).
    std::chrono::steady_clock::time_point LastShown{};

    // Shows what is waiting (on the form's thread).
    void Show() {
        std::vector<TLine> lines;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            lines.swap(Lines);
            Posted = false;
        }
        LastShown = std::chrono::steady_clock::now();
        if (Detached) return;
        for (const TLine& l : lines)
            Form->ShowCallLine(l.Text, l.RecordsInBuffer, l.RejectedRecords);
    }
    // Shows what is waiting now, or once kShowEveryMs have passed since the
    // last batch (on the form's thread).
    static void ShowSoon(const std::shared_ptr<TShownLines>& self) {
        const auto due = self->LastShown + std::chrono::milliseconds(kShowEveryMs);
        const auto now = std::chrono::steady_clock::now();
        if (now >= due) {
            self->Show();
            return;
        }
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(due - now),
                           self->Form->FormObject(), [self] { self->Show(); });
    }
};

ReadATSThread::ReadATSThread(IReadingForm* form, boost::shared_ptr<TLowLevel> link,
                             boost::shared_ptr<TCallLog> log, std::function<bool()> autoExit)
    : form_(form),
      link_(std::move(link)),
      log_(std::move(log)),
      autoExit_(std::move(autoExit)),
      shown_(std::make_shared<TShownLines>()) {
    shown_->Form = form_;
}

ReadATSThread::~ReadATSThread() {
    if (isRunning()) {
        requestInterruption();
        link_->Reading.StopFlag = true;
        WaitForReader(this);
    }
}

void ReadATSThread::Detach() {
    detached_ = true;
    shown_->Detached = true;
}

void ReadATSThread::Hand(const std::function<void()>& f) {
    const auto update = [this, &f] {
        // Lines written before go first.
        shown_->Show();
        if (!detached_) f();
    };
    QObject* target = form_->FormObject();
    if (QThread::currentThread() == target->thread()) {
        update();
        return;
    }
    QMetaObject::invokeMethod(target, update, Qt::BlockingQueuedConnection);
}

void ReadATSThread::ShowLine(const std::string& line, int recordsInBuffer, int rejectedRecords) {
    QObject* target = form_->FormObject();
    if (QThread::currentThread() == target->thread()) {
        if (!detached_) form_->ShowCallLine(line, recordsInBuffer, rejectedRecords);
        return;
    }
    bool post = false;
    {
        std::lock_guard<std::mutex> lock(shown_->Mutex);
        shown_->Lines.push_back({line, recordsInBuffer, rejectedRecords});
        post = !shown_->Posted;
        shown_->Posted = true;
    }
    if (post)
        QMetaObject::invokeMethod(
            target, [shown = shown_] { TShownLines::ShowSoon(shown); }, Qt::QueuedConnection);
}

bool ReadATSThread::Stopping() const {
    return link_->Reading.StopFlag || isInterruptionRequested();
}

bool ReadATSThread::Continuous() const {
    return link_->Reading.UnInterruptFlag && !Stopping();
}

void ReadATSThread::PauseUnlessStopped(int ms) {
    // The link's clock: the protocol's own pauses and these go alike.
    IClock& clock = link_->Clock();
    const auto end = clock.Now() + std::chrono::milliseconds(ms);
    for (auto now = clock.Now(); !Stopping() && now < end; now = clock.Now())
        clock.Sleep(std::min(std::chrono::milliseconds(20),
                             std::chrono::ceil<std::chrono::milliseconds>(end - now)));
}

namespace {

// The wall clock's time for a person reading the service's status.
std::string LocalTimeText() {
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    char text[32] = "";
    if (localtime_r(&t, &local)) std::strftime(text, sizeof text, "%d-%m-%Y %H:%M:%S", &local);
    return text;
}

}  // namespace

bool ReadATSThread::Reopen() {
    if (link_->ClosePort() != TCloseResult::Closed) return false;
    const TSettings& s = link_->Settings;
    if (link_->OpenPort(s.PortName) != TOpenResult::Opened) {
        const std::string why = std::strerror(static_cast<int>(link_->LastOpenError().SystemError));
        if (!openFailureTold_)
            seam::Journal(
                seam::TPriority::Warning,
                PortReopenFailedLine(s.PortName, PortDeviceOf(s.PortName, s.StartDir).Device, why));
        openFailure_ = why;
        openFailureTold_ = true;
        return false;
    }
    openFailure_.clear();
    // A device that came back may hand out another key: identify again.
    if (IdentifyAndReport(*link_) != TIdentifyResult::Identified) return false;
    hooks_->TellBufferFill(link_->Identification());
    return true;
}

std::string PendingLinesText(size_t count) {
    return "Не удалось записать в файл учета звонков. Строк, ожидающих записи: " +
           std::to_string(count) +
           ". Считывание приостановлено, записи остаются в АТС; ожидающие строки будут записаны "
           "первыми, как только запись в файл станет возможной (или выберите другой файл).";
}

void ReadATSThread::TellPending(size_t count) {
    if (told_) return;
    told_ = true;
    std::string text = PendingLinesText(count);
    const std::string why = CallLogFailure(link_->Settings.TarifFileName, log_->LastError());
    if (!why.empty()) text += "\n" + why;
    // An unattended start must not wait for a person.
    if (link_->Settings.AutoStart == TAutoStart::Nothing)
        seam::ShowMessage(text, "Ошибка!");
    else
        seam::Journal(seam::TPriority::Error, text);
}

void ReadATSThread::TrackAnswer(bool answered) {
    const IClock::TTimePoint now = link_->Clock().Now();
    const bool began = !answered && !silentSince_;
    if (began) {
        silentSince_ = now;
        outageAt_ = LocalTimeText();
    }
    if (!silentSince_) return;
    const long minutes =
        std::chrono::duration_cast<std::chrono::minutes>(now - *silentSince_).count();
    if (const auto silence = hooks_->Get().Silence)
        silence(answered ? TSilenceStep::Ended
                : began  ? TSilenceStep::Began
                         : TSilenceStep::Lasting,
                std::chrono::duration_cast<std::chrono::seconds>(now - *silentSince_));
    const TSettings& s = link_->Settings;
    if (answered) {
        if (silenceTold_)
            seam::Journal(seam::TPriority::Info,
                          ExchangeAnswersLine(
                              s.PortName, PortDeviceOf(s.PortName, s.StartDir).Device, minutes));
        silentSince_.reset();
        silenceTold_ = false;
        openFailureTold_ = false;
    } else if (!silenceTold_ && minutes >= kSilenceMinutes) {
        silenceTold_ = true;
        seam::Journal(
            seam::TPriority::Warning,
            ExchangeSilentLine(s.PortName, PortDeviceOf(s.PortName, s.StartDir).Device, minutes));
    }
}

void ReadATSThread::NotifyManager() {
    const IClock::TTimePoint now = link_->Clock().Now();
    if (notified_ && now - notifiedAt_ < std::chrono::seconds(1)) return;
    notified_ = true;
    notifiedAt_ = now;
    std::string state = "WATCHDOG=1";
    std::string status;
    const TSettings& s = link_->Settings;
    if (silentSince_)
        status = OutageStatus(outageAt_, s.PortName, PortDeviceOf(s.PortName, s.StartDir).Device,
                              openFailure_);
    else if (written_ > 0)
        status = "Записано звонков: " + std::to_string(written_) + ", последний в " + lastCallAt_;
    if (status != toldStatus_) {
        toldStatus_ = status;
        state += "\nSTATUS=" + status;
    }
    sd::Notify(state);
}

void ReadATSThread::ShowWritten(const std::vector<std::string>& lines) {
    // The line is in the file already; the window shows it while the next
    // record is being asked for.
    TReadingState& state = link_->Reading;
    written_ += lines.size();
    for (const std::string& line : lines) {
        // Only this thread changes the counters while it reads; they travel
        // with the line as they stood when it was written.
        const int inBuffer = CountWrittenLine(state);
        ShowLine(line, inBuffer, state.RejectedRecords);
    }
    if (!lines.empty()) lastCallAt_ = LocalTimeText();
    NotifyManager();
}

void ReadATSThread::TellReadResult(TReadResult r) {
    switch (r) {
        case TReadResult::UnitRefused:
            seam::ShowMessage("Невозможно установить активную АТС (2)", "");
            break;
        case TReadResult::NoLink:
        case TReadResult::Stopped:
        case TReadResult::Drained:
        case TReadResult::Failed:
        case TReadResult::PortError:
            // The flags and the port's state decide what follows.
            break;
    }
}

void ReadATSThread::OnRecord(TRecord record) {
    log_->OnCallRecord(record);
}

void ReadATSThread::run() {
    pthread_setname_np(pthread_self(), "Korvat_ReaderTh");  // 15 characters at most
    RaiseToRealTime();
    Hand([&] { form_->LockControls(); });
    TReadingState& state = link_->Reading;
    state.RecordCallback = [this](TRecord r) { OnRecord(std::move(r)); };
    // Lines are shown once they are on the disk, while the next record is
    // asked for.
    log_->SetWrittenHook([this](const std::vector<std::string>& lines) { ShowWritten(lines); });
    // Set while the port open is not known to lead to the exchange: it is
    // closed and opened again by its name until the exchange answers there.
    bool reopen = false;
    const bool continuous = state.UnInterruptFlag;
    written_ = 0;

    for (;;) {
        // A reading that hangs stops telling the service manager so, which
        // restarts the program.
        NotifyManager();
        // Lines that could not be written go first; nothing more is read
        // while they wait.
        if (log_->PendingCount() > 0) {
            const std::vector<std::string> written = log_->WritePending();
            if (log_->PendingCount() > 0) {
                TellPending(log_->PendingCount());
                if (!Continuous()) break;
                PauseUnlessStopped(kRetryPauseMs);
                continue;
            }
            told_ = false;
            ShowWritten(written);
        }

        if (reopen) {
            // A read-all ends; continuous reading waits and opens the port
            // again, until the exchange answers there or Stop.
            if (!Continuous()) break;
            PauseUnlessStopped(kRetryPauseMs);
            if (!Stopping()) reopen = !Reopen();
            if (reopen) TrackAnswer(false);
            continue;
        }

        state.HoldFlag = false;
        const TReadResult r = link_->ReadBuffer(state.RecordCallback);
        TellReadResult(r);

        if (state.HoldFlag) {
            TellPending(log_->PendingCount());
            if (!Continuous()) break;
            PauseUnlessStopped(kRetryPauseMs);
            continue;
        }
        // A link test that kept failing may mean another device under the
        // port's name (an adapter unplugged and plugged in again).
        reopen = r == TReadResult::PortError || r == TReadResult::NoLink || link_->PortLost() ||
                 !link_->PortOpen();
        TrackAnswer(!reopen);
        if (reopen) continue;
        if (Stopping() || !state.UnInterruptFlag) break;
    }

    // What was written goes to the disk before the reading is over.
    static_cast<void>(log_->Settle());
    if (!continuous) {
        // A read-all that left lines waiting did not do its work, whatever
        // it wrote: whoever started it (cron, a service manager) must see so.
        heldAtEnd_ = log_->PendingCount() > 0;
        if (heldAtEnd_)
            seam::Journal(seam::TPriority::Error, ReadAllHeldLine(written_, log_->PendingCount()));
        else
            seam::Journal(seam::TPriority::Info, ReadAllEndedLine(written_));
    }
    log_->SetWrittenHook(nullptr);
    state.HoldFlag = false;
    // The callback refers to this thread object, which may go before the link.
    state.RecordCallback = nullptr;
    Hand([&] {
        form_->UnlockControls();
        form_->SetUnInterruptPanel("");
        if (readAll_) form_->ShowReadAllEnd(static_cast<int>(written_));
        if (autoExit_ && autoExit_()) form_->StartUnInterruptTimer();
    });
}

int CountWrittenLine(TReadingState& state) {
    const int before = state.RecordsInBuffer;
    const int after = before > 0 ? before - 1 : before;
    state.RecordsInBuffer = after;
    return after;
}

void WaitForReader(QThread* reader) {
    if (!reader) return;
    while (!reader->wait(std::chrono::milliseconds(10)))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void ReleaseReader(boost::shared_ptr<ReadATSThread>& reader, TLowLevel& link) {
    if (reader && reader->isRunning()) {
        reader->Detach();
        reader->requestInterruption();
        link.Reading.StopFlag = true;
        WaitForReader(reader.get());
    }
    reader.reset();
}
