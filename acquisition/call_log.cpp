#include "acquisition/call_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "acquisition/journal_lines.h"
#include "base/fd.h"
#include "base/message_seam.h"

namespace {

const char* const kNoFileText = "Не выбран файл для сохранения данных.";

}  // namespace

TCallLogWrite AppendLines(const std::string& path, const std::vector<std::string>& lines,
                          bool breakOnRetry) {
    if (path.empty()) return {TCallLogResult::Failed, 0, kNoFileText};
    std::string bytes;
    for (const std::string& l : lines)
        bytes += CallLogBytes(l);
    TCallLogWrite result;
    if (AppendToFile(path, bytes, breakOnRetry ? "\r\n" : "", result.Why, result.Errno))
        return {TCallLogResult::Written, 0, {}};
    return result;
}

TCallLogWrite WriteTitle(const TSettings& settings, const TCallLogTitle& title) {
    return AppendLines(settings.TarifFileName, {title.TitleLine, title.ColumnLine}, false);
}

TCallLogWrite AppendLine(const TSettings& settings, const std::string& text) {
    return AppendLines(settings.TarifFileName, {text}, true);
}

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
        encoded.push_back(CallLogBytes(e.Line));
        bytes += encoded.back();
    }
    if (batch.Path.empty()) {
        batch.Error = kNoFileText;
        return false;
    }
    const size_t plain = bytes.size();
    int err = 0;  // the reason's text is enough here
    bool retried = false;
    TFd file = OpenToAppendTwice(batch.Path, 0644, retried, batch.Error, err);
    if (!file.IsOpen()) return false;
    // The file may end inside a line written by somebody else.
    if (retried) bytes = "\r\n" + bytes;
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
    if (!AppendOrTakeBack(file.Get(), bytes, regular ? st.st_size : -1)) {
        batch.Error = std::strerror(errno);
        return false;
    }
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
        SyncDirectoryOf(stateFile_.Path());
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
        if (!failing_) heldChanges_.emplace_back(true, CallLogFailure(batch->Path, error_));
        failing_ = true;
        pending_.insert(pending_.begin(), batch->Entries.begin(), batch->Entries.end());
        return false;
    }
    error_.clear();
    if (failing_) {
        failing_ = false;
        const std::string resumed = WritingResumedLine(batch->Path, batch->Entries.size());
        seam::Journal(seam::TPriority::Info, resumed);
        heldChanges_.emplace_back(false, resumed);
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
    TellHeld();
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
    TellHeld();
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
        fileHook({ll_->Settings.TarifFileName, exchange.ModelName, exchange.SerialNumber,
                  written.size()});
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
    TellHeld();
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

void TCallLog::SetHeldHook(std::function<void(bool held, const std::string& text)> hook) {
    std::string why;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        heldHook_ = hook;
        if (failing_) why = CallLogFailure(ll_->Settings.TarifFileName, error_);
    }
    if (hook && !why.empty()) hook(true, why);
}

void TCallLog::TellHeld() {
    std::vector<std::pair<bool, std::string>> changes;
    std::function<void(bool, const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changes.swap(heldChanges_);
        hook = heldHook_;
    }
    if (!hook) return;
    for (const auto& [held, text] : changes)
        hook(held, text);
}

size_t TCallLog::PendingCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_.size();
}

std::string TCallLog::LastError() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return error_;
}
