#include "realtime/real_time_log.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/cp1251.h"

std::string TimeStampLine(const QDateTime& at, const QLocale& locale) {
    return "****** Дата и время считывания: " +
           locale.toString(at.date(), QLocale::ShortFormat).toStdString() + "   " +
           at.time().toString("HH:mm:ss").toStdString();
}

TLogStep TRealTimeLog::AfterQuery(const std::vector<std::string>& lines, int period, bool writing,
                                  const std::string& fileName) {
    if (counter_ < period) {
        ++counter_;
        return TLogStep::Counted;
    }
    counter_ = 1;
    if (!writing) {
        if (!file_.IsOpen()) return TLogStep::Idle;
        Close();
        return TLogStep::Closed;
    }
    // A file removed while open (its directory too) would swallow every
    // write unseen: it is opened again by its name.
    struct stat st {};
    if (file_.IsOpen() && fstat(file_.Get(), &st) == 0 && st.st_nlink == 0) Close();
    if (!file_.IsOpen()) {
        // Appended to, never truncated; created when absent. The name comes
        // from the settings and may lead anywhere: a FIFO without a reader
        // must not block the opening, and only a regular file or a device
        // (such as /dev/null) takes the log: OpenToAppend.
        TAppendOpen how = TAppendOpen::Failed;
        TFd fd = OpenToAppend(fileName, 0666, how);
        if (how == TAppendOpen::LinkRefused) return TLogStep::LinkRefused;
        if (how != TAppendOpen::Opened) return TLogStep::OpenFailed;
        file_ = std::move(fd);
        openName_ = fileName;
    }
    std::string bytes;
    for (const std::string& line : lines)
        bytes += Utf8ToCp1251(line) + "\r\n";
    // A block cut short (a full disc, a size limit) is taken back, so that
    // the file holds whole blocks only once writing goes on.
    const bool regular = fstat(file_.Get(), &st) == 0 && S_ISREG(st.st_mode);
    const off_t start = st.st_size;
    if (!WriteAll(file_.Get(), bytes.data(), bytes.size())) {
        // Should that fail too, the cut block stays: nothing more to do here.
        while (regular && ftruncate(file_.Get(), start) != 0 && errno == EINTR) {
        }
        Close();
        return TLogStep::WriteFailed;
    }
    return TLogStep::Written;
}

void TRealTimeLog::Close() {
    // A late write error has nowhere to go: the view is written again later.
    static_cast<void>(file_.Close());
    openName_.clear();
}

std::string LogOpenFailedText(const std::string& fileName) {
    return "Не удалось открыть файл отслеживания соединений \"" + fileName +
           "\". Запись в файл выключена.";
}

std::string LogLinkRefusedText(const std::string& fileName) {
    return RefusedLinkText(fileName) + " Запись в файл выключена.";
}

std::string LogWriteFailedText(const std::string& fileName) {
    return "Не удалось записать в файл отслеживания соединений \"" + fileName +
           "\". Запись в файл выключена.";
}

std::string NoAnswerText(const QDateTime& since) {
    return "Нет ответа от АТС с " + since.time().toString("HH:mm:ss").toStdString();
}
