#include "reading_workflows.h"

#include <QThread>

#include "message_seam.h"
#include "port_messages.h"

namespace {

bool NoCallLog(const TLowLevel& ll) {
    if (!ll.TarifFileName.empty()) return false;
    seam::ShowMessage("Не выбран файл для сохранения данных.", "Внимание!");
    return true;
}

// A new reader takes the place of the form's last one.
ReadATSThread* NewReader(TReadingContext& c) {
    ReleaseReader(*c.Reader, *c.Link);
    c.Reader->reset(new ReadATSThread(c.Form, c.Link, c.Log));
    return c.Reader->get();
}

void WriteTitleBlock(TReadingContext& c) {
    TLowLevel& ll = *c.Link;
    if (!ll.SaveTitle) return;
    BuildTitle(ll);
    c.Form->AddListLine(ll.TitleLine);
    c.Form->AddListLine(ll.ColumnLine);
    WriteTitle(ll);
}

}  // namespace

void LoadFromATS(TReadingContext& c) {
    TLowLevel& ll = *c.Link;
    try {
        if (NoCallLog(ll)) return;
        ll.Port()->Close();
        const int r = c.Form->OpenPort(ll.PortName);
        if (r == -2 || r == -1) {
            if (ll.AutoStart == 1) {
                if (r == -2)
                    seam::ShowMessage(kNoExchangeText, kNoticeCaption);
                else
                    seam::ShowMessage(PortOpenErrorText(ll), kErrorCaption);
            }
            if (c.Form->AutoExit()) c.Form->StartUnInterruptTimer();
            return;
        }
        if (r != 1) {
            seam::ShowMessage("Функция MainForm->OpenPort вернула непонятный результат.", "Авария");
            return;
        }
        if (ll.IdentifyExchange() < 0) {
            seam::ShowMessage("Не обнаружена АТС.", "Уведомление");
            c.Form->ShowNoExchange();
            return;
        }
        ReadATSThread* reader = NewReader(c);
        // A read-all reads once, whatever a failed continuous start left set.
        ll.UnInterruptFlag = false;
        ll.StopFlag = false;
        ll.HoldFlag = false;
        ll.RejectedRecords = 0;
        WriteTitleBlock(c);
        c.Form->ShowExchangeInfo(0);
        reader->start(QThread::TimeCriticalPriority);
    } catch (...) {
        seam::ShowMessage("В LoadFromATSMenuItemClick произошло исключение.", "Авария!");
    }
}

void ReadUninterrupt(TReadingContext& c) {
    TLowLevel& ll = *c.Link;
    try {
        if (NoCallLog(ll)) return;
        ll.RejectedRecords = 0;
        c.Form->SetUnInterruptPanel("Идет непрерывное считывание");
        c.Form->EnableStop();
        ReadATSThread* reader = NewReader(c);
        ll.UnInterruptFlag = true;
        ll.StopFlag = false;
        ll.HoldFlag = false;
        if (ll.IdentifyExchange() < 0) {
            c.Form->ShowNoExchange();
            return;  // the thread is not started
        }
        ll.RejectedRecords = 0;
        c.Form->LockControls();
        WriteTitleBlock(c);
        c.Form->ShowExchangeInfo(0);
        reader->start(QThread::TimeCriticalPriority);
        c.Form->ReleaseReadButton();
    } catch (...) {
        // Dropped without a message, as the command has always done.
    }
}
