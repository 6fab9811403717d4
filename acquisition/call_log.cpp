#include "acquisition/call_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <thread>

#include "acquisition/journal_lines.h"
#include "base/cp1251.h"
#include "base/fd.h"
#include "base/message_seam.h"

const char* const kColumnLine = "       Начало         Продолжит   Абонент      СЛ     Номер";

namespace {

// Decimal text of v with a leading "0" when it is one character long.
std::string Two(int v) {
    std::string s = std::to_string(v);
    return s.size() == 1 ? "0" + s : s;
}

std::string PadLeft(const std::string& s, size_t width) {
    return s.size() >= width ? s : std::string(width - s.size(), ' ') + s;
}

std::string PadRight(const std::string& s, size_t width) {
    return s.size() >= width ? s : s + std::string(width - s.size(), ' ');
}

// A duration part with its separator, "0" put in front when shorter than
// width.
std::string DurPart(int v, const std::string& sep, size_t width) {
    std::string s = std::to_string(v) + sep;
    return s.size() < width ? "0" + s : s;
}

std::string StandardLine(const TRecord& r, const std::string& model) {
    const bool badDate = r.YearFlag == -1 || r.MonthFlag == -1 || r.DayFlag == -1;
    const bool badStart = r.StartHourFlag == -1 || r.StartMinFlag == -1 || r.StartSecFlag == -1;
    const bool badDur = r.DurHourFlag == -1 || r.DurMinFlag == -1 || r.DurSecFlag == -1;
    const std::string s = badDate ? "*" : "-";
    const std::string t = badStart ? "*" : ":";
    const std::string u = badDur ? "*" : ":";

    std::string line;
    line.reserve(96);
    line += Two(r.Day) + s + Two(r.Month) + s + std::to_string(r.Year);
    line += " ";
    line += Two(r.StartHour) + t + Two(r.StartMin) + t + Two(r.StartSec);
    line += "   ";
    line += DurPart(r.DurHour, u, 3) + DurPart(r.DurMin, u, 3) + DurPart(r.DurSec, "", 2);
    line += "   ";
    line += std::to_string(r.HwLine);
    if (r.PrgNumber == "-1")
        line += "(    )   ";
    else
        line += "(" + PadLeft(r.PrgNumber, 4) + ")   ";
    std::string trunk = ModelRules(model).PadsOneDigitTrunk ? TwoDigitTrunk(r.Trunk) : r.Trunk;
    for (int added = 0; added < 4 && trunk.size() < 5; ++added)
        trunk = " " + trunk;
    line += trunk + "     ";
    line += PadRight(r.DialNumber, 21);
    return line;
}

std::string AltLine(const TRecord& r, const std::string& serial) {
    const long long seconds = r.DurHour * 3600LL + r.DurMin * 60LL + r.DurSec;
    std::string line;
    line += (r.PrgNumber == "-1" ? std::string() : r.PrgNumber) + ";";
    line += std::to_string(r.HwLine) + ";";
    line += r.Trunk + ";";
    line += std::string(r.DialNumber.empty() ? "1" : "0") + ";";
    line += Two(r.Day) + "/" + Two(r.Month) + "/" + std::to_string(r.Year) + ";";
    line += Two(r.StartHour) + ":" + Two(r.StartMin) + ":" + Two(r.StartSec) + ";";
    line += std::to_string(seconds) + ";";
    line += r.DialNumber + ";";
    line += serial;
    return line;
}

// Opens path for appending as OpenToAppend does, with errno of the call
// that failed in err (0 for a file refused for its kind or its link) and
// why in error.
TFd OpenForAppend(const std::string& path, std::string& error, int& err) {
    TAppendOpen how = TAppendOpen::Failed;
    TFd file = OpenToAppend(path, 0644, how);
    err = how == TAppendOpen::Failed ? errno : 0;
    switch (how) {
        case TAppendOpen::Opened:
            error.clear();
            break;
        case TAppendOpen::LinkRefused:
            error = RefusedLinkText(path);
            break;
        case TAppendOpen::NotAFile:
            error = "\"" + path + "\" не является обычным файлом.";
            break;
        case TAppendOpen::Failed:
            error = "\"" + path + "\": " + std::strerror(err);
            break;
    }
    return file;
}

// Opens path as AppendLines does: a first open that fails is tried once
// more, and the bytes then begin with a line end (with breakOnRetry), as
// the file may end in the middle of a line written by someone else.
TFd OpenWithRetry(const std::string& path, bool breakOnRetry, std::string& bytes,
                  std::string& error, int& err) {
    TFd file = OpenForAppend(path, error, err);
    if (!file.IsOpen()) {
        file = OpenForAppend(path, error, err);
        if (file.IsOpen() && breakOnRetry) bytes = "\r\n" + bytes;
    }
    return file;
}

// Writes bytes at the end of file, which had size bytes; a failed write is
// cut back off the file.
bool WriteOrTakeBack(int fd, const std::string& bytes, off_t size, std::string& error, int& err) {
    if (WriteAll(fd, bytes.data(), bytes.size())) return true;
    err = errno;
    error = std::strerror(err);
    if (size >= 0 && ftruncate(fd, size) != 0) {
        // Nothing more can be done; the lines stay waiting.
    }
    return false;
}

std::string Cp1251Line(const std::string& line) {
    return Utf8ToCp1251(line) + "\r\n";
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string TitleText(const TDateTimeParts& c) {
    return "       Данные на  " + Two(c.Day) + "-" + Two(c.Month) + "-" + std::to_string(c.Year) +
           " " + Two(c.Hour) + ":" + Two(c.Minute) + ":" + Two(c.Second) + " ";
}

TCallLogTitle BuildTitle(const TDateTimeParts& clock) {
    return {TitleText(clock), kColumnLine};
}

size_t TitleBlockLength(std::string_view bytes) {
    static const std::string head = Utf8ToCp1251("       Данные на  ");
    static const std::string columns = Cp1251Line(kColumnLine);
    std::string_view rest = bytes;
    // A line end put first when the file had to be opened a second time.
    if (rest.substr(0, 2) == "\r\n") rest.remove_prefix(2);
    if (rest.substr(0, head.size()) != head) return 0;
    rest.remove_prefix(head.size());
    const size_t end = rest.find("\r\n");
    if (end == std::string_view::npos || end == 0 ||
        rest.substr(0, end).find_first_not_of("0123456789-: ") != std::string_view::npos)
        return 0;
    rest.remove_prefix(end + 2);
    if (rest.substr(0, columns.size()) != columns) return 0;
    rest.remove_prefix(columns.size());
    return bytes.size() - rest.size();
}

std::string FormatCallLine(const TRecord& record, bool altFormat, const std::string& modelName,
                           const std::string& serialNumber) {
    return altFormat ? AltLine(record, serialNumber) : StandardLine(record, modelName);
}

namespace {

// AppendLines, with errno of the failing call (0: none, or the file was
// refused).
bool Append(const std::string& path, const std::vector<std::string>& lines, bool breakOnRetry,
            std::string& why, int& err) {
    err = 0;
    if (path.empty()) {
        why = "Не выбран файл для сохранения данных.";
        return false;
    }
    std::string bytes;
    for (const std::string& l : lines)
        bytes += Cp1251Line(l);
    TFd file = OpenWithRetry(path, breakOnRetry, bytes, why, err);
    if (!file.IsOpen()) return false;
    struct stat st;
    const off_t size = fstat(file.Get(), &st) == 0 ? st.st_size : -1;
    const bool ok = WriteOrTakeBack(file.Get(), bytes, size, why, err);
    if (file.Close()) return ok;
    if (ok) err = errno;
    return false;
}

}  // namespace

TCallLogWrite AppendLines(const std::string& path, const std::vector<std::string>& lines,
                          bool breakOnRetry) {
    TCallLogWrite result;
    if (Append(path, lines, breakOnRetry, result.Why, result.Errno))
        return {TCallLogResult::Written, 0, {}};
    return result;
}

TCallLogWrite WriteTitle(const TSettings& settings, const TCallLogTitle& title) {
    return AppendLines(settings.TarifFileName, {title.TitleLine, title.ColumnLine}, false);
}

TCallLogWrite AppendLine(const TSettings& settings, const std::string& text) {
    return AppendLines(settings.TarifFileName, {text}, true);
}

// Writes and forces files to the disk on a thread of its own, one batch
// at a time, so that the reading goes on with the link test meanwhile; or,
// for tests, on the thread that asks.
class TCallLog::TDiskSync {
  public:
    explicit TDiskSync(bool onCallingThread) : onCallingThread_(onCallingThread) {}
    ~TDiskSync() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    // Runs job; the previous one must have been waited for.
    void Post(std::function<bool()> job) {
        if (onCallingThread_) {
            result_ = job();
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            job_ = std::move(job);
            done_ = false;
        }
        if (!thread_.joinable()) thread_ = std::thread([this] { Run(); });
        wake_.notify_all();
    }
    // The result of the job posted last, once it is done.
    bool Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return done_; });
        return result_;
    }

  private:
    void Run() {
        pthread_setname_np(pthread_self(), "tallyphon-sync");
        // Started from the reading's thread, it would share its real-time
        // priority; waiting for the disk needs none.
        sched_param normal{};
        static_cast<void>(pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal));
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return quit_ || job_; });
            if (!job_) return;
            std::function<bool()> job = std::move(job_);
            job_ = nullptr;
            lock.unlock();
            const bool result = job();
            lock.lock();
            result_ = result;
            done_ = true;
            wake_.notify_all();
        }
    }

    const bool onCallingThread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::function<bool()> job_;
    bool done_ = true;
    bool result_ = true;
    bool quit_ = false;
    std::thread thread_;
};

// Lines on their way to the file: what the disk's thread is given, and
// what it hands back.
struct TCallLog::TBatch {
    std::deque<TEntry> Entries;
    std::string Path;
    // The state file's records before the batch, and after it once saved.
    std::map<int, TUnacknowledged> Unacknowledged;
    bool StateSaved = false;
    std::string Error;
};

TCallLog::TCallLog(boost::shared_ptr<TLowLevel> ll, std::string stateFile, bool onCallingThread)
    : ll_(std::move(ll)),
      stateFile_(std::move(stateFile)),
      sync_(std::make_unique<TDiskSync>(onCallingThread)) {}

TCallLog::~TCallLog() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (started_) sync_->Wait();
}

void TCallLog::Step(TCallLogStep step) const {
    if (hook_) hook_(step);
}

std::map<int, std::vector<uint8_t>> TCallLog::RestoreUnacknowledged() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stateFile_.Path().empty()) return {};
    stateFile_.RemoveRetired();
    const std::map<int, TUnacknowledged> saved = stateFile_.Load();
    unacknowledged_.clear();
    std::map<int, std::vector<uint8_t>> records;
    for (const auto& [unit, record] : saved) {
        if (!CallLogEndsWith(ll_->Settings.TarifFileName, record)) continue;
        unacknowledged_[unit] = record;
        records[unit] = record.Payload;
    }
    if (unacknowledged_.size() != saved.size()) static_cast<void>(stateFile_.Save(unacknowledged_));
    return records;
}

void TCallLog::SetWrittenHook(std::function<void(const std::vector<std::string>&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    written_ = std::move(hook);
}

void TCallLog::SetFileHook(std::function<void(const TWrittenFile&)> hook) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileHook_ = std::move(hook);
}

void TCallLog::Handing(int unit, const std::vector<uint8_t>& payload) {
    std::lock_guard<std::mutex> lock(mutex_);
    handingUnit_ = unit;
    handingPayload_ = payload;
    Step(TCallLogStep::Received);
}

void TCallLog::Forget(int unit) {
    std::lock_guard<std::mutex> lock(mutex_);
    // The exchange acknowledges only after a settled request: nothing is
    // on its way to the state file now.
    for (TEntry& e : pending_)
        if (e.Unit == unit) e.Unit = -1;
    if (unacknowledged_.erase(unit) > 0 && !stateFile_.Path().empty())
        static_cast<void>(stateFile_.Save(unacknowledged_));
}

bool TCallLog::Write(TBatch& batch) const {
    std::string bytes;
    std::vector<std::string> encoded;
    for (const TEntry& e : batch.Entries) {
        encoded.push_back(Cp1251Line(e.Line));
        bytes += encoded.back();
    }
    if (batch.Path.empty()) {
        batch.Error = "Не выбран файл для сохранения данных.";
        return false;
    }
    const size_t plain = bytes.size();
    int err = 0;  // the reason's text is enough here
    TFd file = OpenWithRetry(batch.Path, true, bytes, batch.Error, err);
    if (!file.IsOpen()) return false;
    struct stat st;
    if (fstat(file.Get(), &st) != 0) {
        batch.Error = std::strerror(errno);
        return false;
    }
    const bool regular = S_ISREG(st.st_mode);

    // Where each record's line will be, saved before the line is written.
    TFd state;
    if (regular && !stateFile_.Path().empty()) {
        uint64_t offset = static_cast<uint64_t>(st.st_size) + (bytes.size() - plain);
        bool any = false;
        for (size_t i = 0; i < batch.Entries.size(); ++i) {
            const TEntry& e = batch.Entries[i];
            if (e.Unit >= 0) {
                batch.Unacknowledged[e.Unit] = {e.Payload, offset, encoded[i]};
                any = true;
            }
            offset += encoded[i].size();
        }
        if (any) {
            // Kept open to be forced to the disk with the line. Without it
            // a kill could have the record written twice: the line waits,
            // and the reading with it, as for a file that cannot be
            // written.
            state = stateFile_.Save(batch.Unacknowledged);
            if (!state.IsOpen()) {
                batch.Error = "Файл состояния \"" + stateFile_.Path() +
                              "\" не удалось сохранить: " + std::strerror(errno);
                return false;
            }
            batch.StateSaved = true;
            Step(TCallLogStep::StateSaved);
        }
    }
    if (!WriteOrTakeBack(file.Get(), bytes, regular ? st.st_size : -1, batch.Error, err))
        return false;
    Step(TCallLogStep::LineWritten);
    if (!regular) return true;

    // The state file's new name is made durable with its directory; on
    // ext4 the first sync carries most of the others along.
    if (fdatasync(file.Get()) != 0) {
        batch.Error = std::string("Строки не удалось сохранить на диске: ") + std::strerror(errno);
        // Lines the disk did not take are not known to be anywhere: they
        // are taken back off the file and wait to be written again.
        if (ftruncate(file.Get(), st.st_size) != 0) {
            // Written twice at worst, never lost.
        }
        return false;
    }
    if (state.IsOpen()) {
        static_cast<void>(fsync(state.Get()));
        TFd dir(open(DirectoryOf(stateFile_.Path()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.IsOpen()) static_cast<void>(fsync(dir.Get()));
    }
    // Off the reading's way, the state file moved aside is removed.
    if (!stateFile_.Path().empty()) stateFile_.RemoveRetired();
    return true;
}

void TCallLog::StartLocked() {
    auto batch = std::make_shared<TBatch>();
    batch->Entries = std::move(pending_);
    pending_.clear();
    batch->Path = ll_->Settings.TarifFileName;
    batch->Unacknowledged = unacknowledged_;
    started_ = batch;
    sync_->Post([this, batch] { return Write(*batch); });
}

bool TCallLog::SettleLocked(std::vector<std::string>& written) {
    if (!started_) return true;
    const std::shared_ptr<TBatch> batch = std::move(started_);
    started_.reset();
    const bool ok = sync_->Wait();
    if (batch->StateSaved) unacknowledged_ = batch->Unacknowledged;
    if (!ok) {
        error_ = batch->Error;
        failing_ = true;
        pending_.insert(pending_.begin(), batch->Entries.begin(), batch->Entries.end());
        return false;
    }
    error_.clear();
    if (failing_) {
        failing_ = false;
        seam::Journal(seam::TPriority::Info,
                      WritingResumedLine(batch->Path, batch->Entries.size()));
    }
    Step(TCallLogStep::OnDisk);
    for (const TEntry& e : batch->Entries)
        if (!e.Title) written.push_back(e.Line);
    return true;
}

bool TCallLog::Settle() {
    std::vector<std::string> written;
    bool ok = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ok = SettleLocked(written);
    }
    TellWritten(written);
    return ok;
}

void TCallLog::OnCallRecord(const TRecord& record) {
    const TIdentification& exchange = ll_->Identification();
    const std::string line =
        FormatCallLine(record, ll_->Settings.AltFormat, exchange.ModelName, exchange.SerialNumber);
    std::vector<std::string> written;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Lines started before and not yet settled go first.
        SettleLocked(written);
        pending_.push_back({line, handingUnit_, handingPayload_});
        handingUnit_ = -1;
        StartLocked();
    }
    TellWritten(written);
}

void TCallLog::TellWritten(const std::vector<std::string>& written, bool toWrittenHook) const {
    if (written.empty()) return;
    std::function<void(const std::vector<std::string>&)> hook;
    std::function<void(const TWrittenFile&)> fileHook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (toWrittenHook) hook = written_;
        fileHook = fileHook_;
    }
    if (hook) hook(written);
    if (fileHook) {
        const TIdentification& exchange = ll_->Identification();
        fileHook({ll_->Settings.TarifFileName, exchange.ModelName, exchange.SerialNumber});
    }
}

std::vector<std::string> TCallLog::WritePending() {
    std::vector<std::string> written;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        SettleLocked(written);
        if (!pending_.empty()) {
            StartLocked();
            SettleLocked(written);
        }
    }
    // The caller shows what it gets back: only the file hook is told.
    TellWritten(written, false);
    return written;
}

void TCallLog::HoldTitle(const TCallLogTitle& title) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::string& line : {title.TitleLine, title.ColumnLine}) {
        TEntry e;
        e.Line = line;
        e.Title = true;
        pending_.push_back(std::move(e));
    }
}

size_t TCallLog::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

std::string TCallLog::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}
