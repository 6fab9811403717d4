#include "read_ats_thread.h"

#include <pthread.h>

#include <QCoreApplication>
#include <QMetaObject>
#include <chrono>
#include <cstdio>
#include <thread>

#include "message_seam.h"
#include "port_messages.h"

ReadATSThread::ReadATSThread(IReadingForm* form, boost::shared_ptr<TLowLevel> link,
                             boost::shared_ptr<TCallLog> log, std::function<bool()> autoExit)
    : form_(form), link_(std::move(link)), log_(std::move(log)), autoExit_(std::move(autoExit)) {}

ReadATSThread::~ReadATSThread() {
    if (isRunning()) {
        requestInterruption();
        link_->Reading.StopFlag = true;
        WaitForReader(this);
    }
}

void ReadATSThread::Hand(const std::function<void()>& f) {
    const auto update = [this, &f] {
        if (!detached_) f();
    };
    QObject* target = form_->FormObject();
    if (QThread::currentThread() == target->thread()) {
        update();
        return;
    }
    // Queued after any lines handed over before, so it comes after them.
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
        std::lock_guard<std::mutex> lock(shownMutex_);
        shown_.push_back({line, recordsInBuffer, rejectedRecords});
        post = !showPosted_;
        showPosted_ = true;
    }
    // The thread ends with a Hand, which waits for this one: the thread
    // object outlives it.
    if (post)
        QMetaObject::invokeMethod(
            target, [this] { ShowLines(); }, Qt::QueuedConnection);
}

void ReadATSThread::ShowLines() {
    std::vector<TShownLine> lines;
    {
        std::lock_guard<std::mutex> lock(shownMutex_);
        lines.swap(shown_);
        showPosted_ = false;
    }
    if (detached_) return;
    for (const TShownLine& l : lines)
        form_->ShowCallLine(l.Line, l.RecordsInBuffer, l.RejectedRecords);
}

bool ReadATSThread::Stopping() const {
    return link_->Reading.StopFlag || isInterruptionRequested();
}

bool ReadATSThread::Continuous() const {
    return link_->Reading.UnInterruptFlag && !Stopping();
}

void ReadATSThread::PauseUnlessStopped(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Stopping() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

bool ReadATSThread::Reopen() {
    try {
        link_->Port()->Close();
    } catch (const ECommError&) {
        return false;
    }
    if (link_->OpenPort(link_->Settings.PortName) != TOpenResult::Opened) return false;
    // A device that came back may hand out another key: identify again.
    try {
        return IdentifyAndReport(*link_) == TIdentifyResult::Identified;
    } catch (const ECommError&) {
        return false;
    }
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
    const std::string why = log_->LastError();
    if (!why.empty()) text += "\n" + why;
    // An unattended start must not wait for a person.
    if (link_->Settings.AutoStart == TAutoStart::Nothing)
        seam::ShowMessage(text, "Ошибка!");
    else
        std::fprintf(stderr, "tallyphon: %s\n", text.c_str());
}

void ReadATSThread::ShowWritten(const std::vector<std::string>& lines) {
    // The line is in the file already; the window shows it while the next
    // record is being asked for.
    TReadingState& state = link_->Reading;
    for (const std::string& line : lines) {
        // Only this thread changes the counters while it reads; they travel
        // with the line as they stood when it was written.
        const int inBuffer = CountWrittenLine(state);
        ShowLine(line, inBuffer, state.RejectedRecords);
    }
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
            // The flags and the port's state decide what follows.
            break;
    }
}

void ReadATSThread::OnRecord(TRecord record) {
    ShowWritten(log_->OnCallRecord(record));
}

void ReadATSThread::run() {
    pthread_setname_np(pthread_self(), "Korvat_ReaderTh");  // 15 characters at most
    Hand([&] { form_->LockControls(); });
    TReadingState& state = link_->Reading;
    state.RecordCallback = [this](TRecord r) { OnRecord(std::move(r)); };
    // Set while the port open is not known to lead to the exchange: it is
    // closed and opened again by its name until the exchange answers there.
    bool reopen = false;

    for (;;) {
        // Lines that could not be written go first; nothing more is read
        // while they wait.
        if (log_->PendingCount() > 0) {
            const std::vector<std::string> written = log_->WritePending();
            if (written.empty()) {
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
            continue;
        }

        state.HoldFlag = false;
        TReadResult r = TReadResult::Failed;
        bool portError = false;
        try {
            r = link_->ReadBuffer(state.RecordCallback);
        } catch (const ECommError&) {
            portError = true;
        }
        if (!portError) TellReadResult(r);

        if (state.HoldFlag) {
            TellPending(log_->PendingCount());
            if (!Continuous()) break;
            PauseUnlessStopped(kRetryPauseMs);
            continue;
        }
        // A link test that kept failing may mean another device under the
        // port's name (an adapter unplugged and plugged in again).
        reopen = portError || r == TReadResult::NoLink || link_->Port()->Lost() ||
                 !link_->Port()->IsOpen();
        if (reopen) continue;
        if (Stopping() || !state.UnInterruptFlag) break;
    }

    // What was written goes to the disk before the reading is over.
    static_cast<void>(log_->Settle());
    state.HoldFlag = false;
    // The callback refers to this thread object, which may go before the link.
    state.RecordCallback = nullptr;
    Hand([&] {
        form_->UnlockControls();
        form_->SetUnInterruptPanel("");
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
