#include "real_time_log.h"

#include <fcntl.h>
#include <sys/stat.h>

#include "cp1251.h"

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
        // Appended to, never truncated; created when absent.
        TFd fd(open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
        if (!fd.IsOpen()) return TLogStep::OpenFailed;
        file_ = std::move(fd);
        openName_ = fileName;
    }
    std::string bytes;
    for (const std::string& line : lines)
        bytes += Utf8ToCp1251(line) + "\r\n";
    if (!WriteAll(file_.Get(), bytes.data(), bytes.size())) {
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

std::string LogWriteFailedText(const std::string& fileName) {
    return "Не удалось записать в файл отслеживания соединений \"" + fileName +
           "\". Запись в файл выключена.";
}
