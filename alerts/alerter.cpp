#include "alerts/alerter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "alerts/alert_mail.h"
#include "base/cp1251.h"
#include "base/fd.h"
#include "base/message_seam.h"
#include "billing/csv_fields.h"
#include "calllog/calllog_loader.h"
#include "calllog/file_identity.h"

namespace {

constexpr const char* kStateTitle = "tallyphon-alerts-state 1";
// Alerts kept undelivered at most: a place that never takes one (a wrong
// address) must not let the state file grow for ever.
constexpr size_t kMaxOutbox = 10000;
// Alerts one mail lists at most; the rest go in the next.
constexpr size_t kMaxPerMail = 50;
// How long the offset past lines without alerts may stay unsaved: they are
// only evaluated again after a kill, and make no alert then either.
constexpr std::time_t kSaveEvery = 10;

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string> SplitTabs(std::string_view line) {
    std::vector<std::string> fields;
    size_t pos = 0;
    for (;;) {
        const size_t tab = line.find('\t', pos);
        fields.push_back(Unescape(line.substr(pos, tab - pos)));
        if (tab == std::string_view::npos) return fields;
        pos = tab + 1;
    }
}

bool ToInt(const std::string& text, int64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == 0;
}

bool ToUnsigned(const std::string& text, uint64_t& value) {
    if (text.empty() || text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text.c_str(), &end, 10);
    return errno == 0 && *end == 0;
}

std::string Hex(int64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx",
                  static_cast<unsigned long long>(static_cast<uint64_t>(v)));
    return buf;
}

// Writes text to path: a new file beside it, forced to the disk and
// renamed over it (a symbolic link at path is replaced, never followed).
// The reason when it fails, else empty.
std::string WriteReplacing(const std::string& path, const std::string& text) {
    const std::string temp = path + ".new";
    TFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.IsOpen()) return "не создать " + temp + ": " + std::strerror(errno);
    if (!WriteAll(fd.Get(), text.data(), text.size()) || fsync(fd.Get()) != 0 || !fd.Close()) {
        const int e = errno;
        unlink(temp.c_str());
        return "не записать " + temp + ": " + std::strerror(e);
    }
    if (rename(temp.c_str(), path.c_str()) != 0) {
        const int e = errno;
        unlink(temp.c_str());
        return "не переименовать " + temp + ": " + std::strerror(e);
    }
    // The directory is not forced: a rename lost to a power cut leaves the
    // state before it, complete, whose offset makes the same alerts again
    // with the same keys; nothing is lost, and a forced write less per alert
    // halves what it costs the disk.
    return "";
}

std::string CallWho(const TExtStr_rep& call) {
    if (call.ExtNumber.empty())
        return "Входящий звонок на линию " + call.PrgLine.str() + " (соединительная линия " +
               call.Trunk.str() + ")";
    return "Звонок с линии " + call.PrgLine.str() + " на " + call.ExtNumber.str();
}

std::string Minutes(int seconds) {
    return std::to_string(seconds / 60) + " мин " + std::to_string(seconds % 60) + " с";
}

}  // namespace

std::string FormatAlertState(const TAlertState& state) {
    std::string out = std::string(kStateTitle) + "\n";
    if (state.Known)
        out += "file\t" + std::to_string(state.Device) + "\t" + std::to_string(state.Inode) + "\t" +
               std::to_string(state.HeadId) + "\t" + std::to_string(state.Offset) + "\n";
    out += "seq\t" + std::to_string(state.Sequence) + "\n";
    for (const auto& [kind, episode] : state.Episodes)
        out += "episode\t" + std::to_string(kind) + "\t" + Escape(episode.Key) + "\t" +
               Escape(episode.Detail) + "\n";
    for (const auto& [group, at] : state.LastMail)
        out += "mail\t" + Escape(group) + "\t" + std::to_string(at) + "\n";
    for (const TOutboxEntry& e : state.Outbox) {
        std::string pending;
        for (const std::string& dest : e.Pending)
            pending += (pending.empty() ? "" : " ") + dest;
        const TAlert& a = e.Alert;
        out += "alert\t" + Escape(a.Key) + "\t" + std::to_string(static_cast<int>(a.Kind)) + "\t" +
               (a.Cleared ? "1" : "0") + "\t" + std::to_string(a.At) + "\t" + Escape(e.Group) +
               "\t" + Escape(pending) + "\t" + Escape(a.Site) + "\t" + Escape(a.Text) + "\t" +
               Escape(a.CallLine) + "\n";
    }
    return out + "end\n";
}

bool ParseAlertState(std::string_view text, TAlertState& state) {
    TAlertState read;
    size_t pos = 0;
    bool titled = false, ended = false;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) return false;  // cut short
        const std::string_view line = text.substr(pos, nl - pos);
        pos = nl + 1;
        if (!titled) {
            if (line != kStateTitle) return false;
            titled = true;
            continue;
        }
        if (ended) return false;
        const std::vector<std::string> f = SplitTabs(line);
        int64_t n = 0, m = 0;
        if (f[0] == "end" && f.size() == 1) {
            ended = true;
        } else if (f[0] == "file" && f.size() == 5) {
            if (!ToUnsigned(f[1], read.Device) || !ToUnsigned(f[2], read.Inode) ||
                !ToInt(f[3], read.HeadId) || !ToInt(f[4], read.Offset) || read.Offset < 0)
                return false;
            read.Known = true;
        } else if (f[0] == "seq" && f.size() == 2) {
            if (!ToUnsigned(f[1], read.Sequence)) return false;
        } else if (f[0] == "episode" && f.size() == 4) {
            if (!ToInt(f[1], n) || n < 0 || n > static_cast<int>(TAlertKind::Db)) return false;
            read.Episodes[static_cast<int>(n)] = {f[2], f[3]};
        } else if (f[0] == "mail" && f.size() == 3) {
            if (!ToInt(f[2], n)) return false;
            read.LastMail[f[1]] = static_cast<std::time_t>(n);
        } else if (f[0] == "alert" && f.size() == 10) {
            TOutboxEntry e;
            if (!ToInt(f[2], n) || n < 0 || n > static_cast<int>(TAlertKind::Db) ||
                !ToInt(f[4], m) || (f[3] != "0" && f[3] != "1"))
                return false;
            e.Alert.Key = f[1];
            e.Alert.Kind = static_cast<TAlertKind>(n);
            e.Alert.Cleared = f[3] == "1";
            e.Alert.At = static_cast<std::time_t>(m);
            e.Group = f[5];
            for (size_t p = 0; p < f[6].size();) {
                size_t blank = f[6].find(' ', p);
                if (blank == std::string::npos) blank = f[6].size();
                if (blank > p) e.Pending.push_back(f[6].substr(p, blank - p));
                p = blank + 1;
            }
            e.Alert.Site = f[7];
            e.Alert.Text = f[8];
            e.Alert.CallLine = f[9];
            if (!e.Pending.empty()) read.Outbox.push_back(std::move(e));
        } else {
            return false;
        }
    }
    if (!ended) return false;
    state = std::move(read);
    return true;
}

TAlerter::TAlerter(std::string rulesPath, const std::string& startDir, TAlerterOptions options)
    : rulesPath_(std::move(rulesPath)),
      statePath_((startDir.empty() ? std::string(".") : startDir) + "/" + kAlertStateFileName),
      options_(std::move(options)) {
    rulesResult_ = LoadAlertRules(rulesPath_, rules_);
    if (!rulesResult_.Ok())
        seam::Journal(seam::TPriority::Error,
                      "Правила оповещений не применены: " + rulesResult_.Message);
    callRules_ = std::make_unique<TCallRules>(rules_);
    host_ = options_.Host.empty() ? MailHostName() : options_.Host;

    struct stat st {};
    if (lstat(statePath_.c_str(), &st) != 0 && errno == ENOENT) {
        fresh_ = true;
        return;
    }
    std::string text;
    if (!ReadSmallFile(statePath_, text).Ok() || !ParseAlertState(text, state_)) {
        // Not ours to mend: kept aside for a look, and the alerts go on
        // from the calls written from now on.
        const std::string aside = statePath_ + ".bad";
        rename(statePath_.c_str(), aside.c_str());
        seam::Journal(seam::TPriority::Error,
                      "Файл состояния оповещений «" + statePath_ +
                          "» повреждён или не читается; он переименован в «" + aside +
                          "», оповещения идут со звонков, записанных с этого момента");
        state_ = TAlertState();
        fresh_ = true;
    }
}

TAlerter::~TAlerter() {
    Stop();
}

std::time_t TAlerter::Now() const {
    return options_.Clock ? options_.Clock() : std::time(nullptr);
}

const TAlertRule* TAlerter::RuleOf(TAlertKind kind) const {
    for (const TAlertRule& rule : rules_.Rules)
        if (rule.Kind == kind) return &rule;
    return nullptr;
}

void TAlerter::SetSink(const std::string& name, IAlertSink* sink) {
    sinks_[name] = sink;
}

void TAlerter::Start(const std::string& callLogPath) {
    if (thread_.joinable()) return;
    PassOver(callLogPath);
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        path_ = callLogPath;
        notified_ = true;
    }
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
}

void TAlerter::Notify(const std::string& callLogPath) {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        path_ = callLogPath;
        notified_ = true;
    }
    wake_.notify_all();
}

void TAlerter::Kick() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        kicked_ = true;
    }
    wake_.notify_all();
}

void TAlerter::Stop() {
    if (thread_.joinable()) {
        {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (dirty_) Save();
}

void TAlerter::Run() {
    for (;;) {
        std::string path;
        {
            std::lock_guard<std::mutex> lock(wakeMutex_);
            if (stop_) break;
            if (notified_) path = path_;
            notified_ = kicked_ = false;
        }
        if (!path.empty()) EvaluatePending(path);
        const std::time_t next = DeliverDue();
        std::time_t now = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            now = Now();
            if (dirty_ && now - savedAt_ >= kSaveEvery) Save();
        }
        std::time_t wait = next == 0 ? kSaveEvery : std::min(next - now, kSaveEvery);
        if (wait < 1) wait = 1;
        std::unique_lock<std::mutex> lock(wakeMutex_);
        wake_.wait_for(lock, std::chrono::seconds(wait),
                       [this] { return notified_ || kicked_ || stop_.load(); });
    }
}

bool TAlerter::Save() {
    // Without call rules and with nothing ever raised or kept, there is
    // nothing to keep: an office without alerts gets no state file.
    if (callRules_->Empty() && state_.Outbox.empty() && state_.Episodes.empty() &&
        state_.Sequence == 0 && state_.LastMail.empty()) {
        dirty_ = false;
        return true;
    }
    const std::string why = WriteReplacing(statePath_, FormatAlertState(state_));
    if (!why.empty()) {
        if (!saveFailed_)
            seam::Journal(seam::TPriority::Error,
                          "Не удалось записать состояние оповещений: " + why);
        saveFailed_ = true;
        return false;
    }
    if (saveFailed_)
        seam::Journal(seam::TPriority::Info, "Состояние оповещений снова записывается");
    saveFailed_ = false;
    dirty_ = false;
    savedAt_ = Now();
    return true;
}

TAlertDelivery TAlerter::DeliveryOf(TAlertKind kind) const {
    TAlertDelivery d;
    for (const TAlertRule& rule : rules_.Rules) {
        if (rule.Kind != kind) continue;
        d.Desktop |= rule.Delivery.Desktop;
        d.Db |= rule.Delivery.Db;
        for (const std::string& a : rule.Delivery.Mail)
            if (std::find(d.Mail.begin(), d.Mail.end(), a) == d.Mail.end()) d.Mail.push_back(a);
    }
    return d;
}

void TAlerter::Enqueue(TAlert alert, const std::string& group, const TAlertDelivery& delivery) {
    TOutboxEntry e;
    e.Alert = std::move(alert);
    e.Alert.Site = options_.Site;
    e.Group = group;
    e.Pending.push_back("journal");
    if (delivery.Desktop) e.Pending.push_back("desktop");
    if (delivery.Db) e.Pending.push_back("db");
    for (const std::string& a : delivery.Mail)
        e.Pending.push_back("mail:" + a);
    if (state_.Outbox.size() >= kMaxOutbox) {
        seam::Journal(seam::TPriority::Error,
                      "Слишком много недоставленных оповещений; не доставлено: " +
                          state_.Outbox.front().Alert.Text);
        state_.Outbox.erase(state_.Outbox.begin());
    }
    state_.Outbox.push_back(std::move(e));
    ++made_;
}

std::string TAlerter::AlertText(const TAlertRule& rule, const TExtStr_rep& call) const {
    const std::string who = CallWho(call);
    switch (rule.Kind) {
        case TAlertKind::Cost:
            return who + " стоит " + RoublesText(callRules_->CostOf(call)) + " руб. (правило: от " +
                   RoublesText(rule.Kopecks) + " руб.)";
        case TAlertKind::Duration:
            return who + " длился " + Minutes(call.DurTotalSec) + " (правило: от " +
                   std::to_string(rule.Minutes) + " мин)";
        case TAlertKind::Prefix: {
            std::string matched;
            for (const std::string& p : rule.Prefixes)
                if (call.ExtNumber.view().substr(0, p.size()) == p && p.size() > matched.size())
                    matched = p;
            return who + " (префикс " + matched + ")";
        }
        case TAlertKind::Hours:
            return who + " вне рабочего времени (" + rule.Parameter + ")";
        default:
            return who;
    }
}

bool TAlerter::EvaluateLine(std::string_view bytes, std::vector<size_t>& matched) const {
    TExtStr_rep call;
    if (bytes.size() > kMaxCallLogLineLength || !ParseCallLogLine(bytes, call)) return false;
    callRules_->Evaluate(call, matched);
    return true;
}

size_t TAlerter::EvaluatePending(const std::string& path) {
    TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.IsOpen()) return 0;
    struct stat st {};
    int64_t headId = 0;
    if (fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        !FileIdentity("", fd.Get(), st.st_size, headId))
        return 0;
    off_t base = 0;
    if (PassOver(fd.Get(), st, headId)) return 0;
    const off_t size = st.st_size;
    bool passOver = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The same file by its first line, wherever it now lies (moved or
        // copied); another first line is another file, read from its start.
        if (!state_.Known || state_.HeadId != headId) {
            state_.Known = true;
            state_.HeadId = headId;
            state_.Offset = 0;
            dirty_ = true;
        }
        state_.Device = static_cast<uint64_t>(st.st_dev);
        state_.Inode = static_cast<uint64_t>(st.st_ino);
        if (state_.Offset > size) {  // cut and written anew
            state_.Offset = 0;
            dirty_ = true;
        }
        base = static_cast<off_t>(state_.Offset);
    }
    if (callRules_->Empty()) passOver = true;

    size_t made = 0;
    std::vector<char> buf(size_t{1} << 16);
    size_t filled = 0;
    std::vector<size_t> matched;
    std::vector<std::pair<TAlert, size_t>> alerts;  // the alert and its rule
    while (base + static_cast<off_t>(filled) < size && !stop_) {
        const size_t want = std::min<size_t>(
            buf.size() - filled, static_cast<size_t>(size - base - static_cast<off_t>(filled)));
        if (!ReadAll(fd.Get(), buf.data() + filled, want, base + static_cast<off_t>(filled)))
            return made;
        filled += want;
        alerts.clear();
        auto sink = [&](const char* begin, size_t length) {
            if (passOver) return;
            const std::string_view bytes(begin, length);
            matched.clear();
            if (!EvaluateLine(bytes, matched) || matched.empty()) return;
            TExtStr_rep call;
            (void)ParseCallLogLine(bytes, call);
            const int64_t lineOffset = base + (begin - buf.data());
            for (const size_t i : matched) {
                const TAlertRule& rule = rules_.Rules[i];
                TAlert a;
                a.Key = "call-" + Hex(headId) + "-" + std::to_string(lineOffset) + "-" +
                        std::to_string(rule.Line);
                a.Kind = rule.Kind;
                a.Text = AlertText(rule, call);
                a.CallLine = IsAscii(bytes) ? std::string(bytes) : Cp1251ToUtf8(bytes);
                a.At = Now();
                alerts.emplace_back(std::move(a), i);
            }
        };
        size_t consumed = SplitCallLogLines(buf.data(), filled, false, sink);
        if (consumed == 0 && filled == buf.size()) consumed = filled;  // no call is that long
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto& [a, i] : alerts) {
                const TAlertRule& rule = rules_.Rules[i];
                Enqueue(std::move(a), "rule:" + std::to_string(rule.Line), rule.Delivery);
            }
            state_.Offset = base + static_cast<off_t>(consumed);
            if (!alerts.empty())
                Save();
            else
                dirty_ = dirty_ || consumed > 0;
        }
        made += alerts.size();
        std::memmove(buf.data(), buf.data() + consumed, filled - consumed);
        filled -= consumed;
        base += static_cast<off_t>(consumed);
        if (consumed == 0) break;  // an incomplete line: wait for its end
    }
    return made;
}

void TAlerter::PassOver(const std::string& path) {
    TFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    int64_t headId = 0;
    if (fd.IsOpen() && fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
        FileIdentity("", fd.Get(), st.st_size, headId))
        PassOver(fd.Get(), st, headId);
    std::lock_guard<std::mutex> lock(mutex_);
    fresh_ = false;  // a call log begun after the first start is new throughout
}

bool TAlerter::PassOver(int fd, const struct stat& st, int64_t headId) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!fresh_) return false;
    fresh_ = false;
    // Up to the end of the last complete line.
    off_t end = st.st_size;
    char buf[4096];
    while (end > 0) {
        const off_t from = std::max<off_t>(0, end - static_cast<off_t>(sizeof buf));
        const size_t n = static_cast<size_t>(end - from);
        if (!ReadAll(fd, buf, n, from)) return false;
        const void* nl = memrchr(buf, '\n', n);
        if (nl) {
            end = from + (static_cast<const char*>(nl) - buf) + 1;
            break;
        }
        end = from;
    }
    state_.Known = true;
    state_.Device = static_cast<uint64_t>(st.st_dev);
    state_.Inode = static_cast<uint64_t>(st.st_ino);
    state_.HeadId = headId;
    state_.Offset = end;
    Save();
    return true;
}

bool TAlerter::Raise(TAlertKind kind, const std::string& detail) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const int k = static_cast<int>(kind);
        if (state_.Episodes.count(k)) return false;
        TAlert a;
        a.At = Now();
        a.Key = std::string(AlertKindName(kind)) + "-" + std::to_string(a.At) + "-" +
                std::to_string(++state_.Sequence);
        state_.Episodes[k] = {a.Key, detail};
        a.Key += "-raised";
        a.Kind = kind;
        a.Text = detail;
        Enqueue(std::move(a), std::string("kind:") + AlertKindName(kind), DeliveryOf(kind));
        Save();
    }
    Kick();
    return true;
}

bool TAlerter::Clear(TAlertKind kind, const std::string& detail) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto it = state_.Episodes.find(static_cast<int>(kind));
        if (it == state_.Episodes.end()) return false;
        TAlert a;
        a.At = Now();
        a.Key = it->second.Key + "-cleared";
        a.Kind = kind;
        a.Cleared = true;
        a.Text = "Прекратилось: " + (detail.empty() ? it->second.Detail : detail);
        state_.Episodes.erase(it);
        Enqueue(std::move(a), std::string("kind:") + AlertKindName(kind), DeliveryOf(kind));
        Save();
    }
    Kick();
    return true;
}

bool TAlerter::Raised(TAlertKind kind) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.Episodes.count(static_cast<int>(kind)) > 0;
}

size_t TAlerter::OutboxSize() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return state_.Outbox.size();
}

void TAlerter::Done(const std::string& key, const std::string& dest) {
    for (auto it = state_.Outbox.begin(); it != state_.Outbox.end(); ++it) {
        if (it->Alert.Key != key) continue;
        it->Pending.erase(std::remove(it->Pending.begin(), it->Pending.end(), dest),
                          it->Pending.end());
        if (it->Pending.empty()) state_.Outbox.erase(it);
        return;
    }
}

void TAlerter::Failed(const std::string& dest, const std::string& why) {
    TBackoff& b = backoff_[dest];
    b.Delay = b.Delay == 0 ? options_.RetryAfter : std::min(b.Delay * 2, options_.RetryMax);
    b.Next = Now() + b.Delay;
    if (!b.Told)
        seam::Journal(seam::TPriority::Warning, "Оповещение не доставлено (" + dest + "): " + why +
                                                    "; доставка будет повторяться");
    b.Told = true;
}

void TAlerter::Succeeded(const std::string& dest) {
    const auto it = backoff_.find(dest);
    if (it == backoff_.end()) return;
    if (it->second.Told)
        seam::Journal(seam::TPriority::Info, "Оповещения снова доставляются (" + dest + ")");
    backoff_.erase(it);
}

std::time_t TAlerter::DeliverDue() {
    struct TJob {
        std::string Dest;
        std::string MailGroup;  // "group\taddress" of a mail
        std::vector<TAlert> Alerts;
    };
    std::vector<TJob> jobs;
    std::time_t next = 0;
    const auto later = [&next](std::time_t t) { next = next == 0 ? t : std::min(next, t); };
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::time_t now = Now();
        std::map<std::string, size_t> mailJobs;
        for (const TOutboxEntry& e : state_.Outbox) {
            for (const std::string& dest : e.Pending) {
                const auto b = backoff_.find(dest);
                if (b != backoff_.end() && b->second.Next > now) {
                    later(b->second.Next);
                    continue;
                }
                if (dest.compare(0, 5, "mail:") != 0) {
                    jobs.push_back({dest, "", {e.Alert}});
                    continue;
                }
                const std::string group = e.Group + "\t" + dest.substr(5);
                const auto last = state_.LastMail.find(group);
                if (last != state_.LastMail.end() && now < last->second + options_.MailInterval) {
                    later(last->second + options_.MailInterval);
                    continue;
                }
                const auto job = mailJobs.find(group);
                if (job == mailJobs.end()) {
                    mailJobs[group] = jobs.size();
                    jobs.push_back({dest, group, {e.Alert}});
                } else if (jobs[job->second].Alerts.size() < kMaxPerMail) {
                    jobs[job->second].Alerts.push_back(e.Alert);
                } else {
                    later(now + options_.MailInterval);
                }
            }
        }
    }
    std::set<std::string> failed;
    for (const TJob& job : jobs) {
        if (stop_) break;
        if (failed.count(job.Dest)) continue;  // once a round: it is tried later
        std::string why;
        bool skipped = false;  // no such place: nothing left it
        if (job.Dest == "journal") {
            const TAlert& a = job.Alerts[0];
            const seam::TPriority priority = a.Cleared ? seam::TPriority::Info
                                             : a.Kind == TAlertKind::Held
                                                 ? seam::TPriority::Error
                                                 : seam::TPriority::Warning;
            seam::Journal(priority, std::string("Оповещение «") + AlertKindName(a.Kind) + "»" +
                                        (a.Cleared ? " снято: " : ": ") + a.Text +
                                        (a.CallLine.empty() ? "" : ": " + a.CallLine));
        } else if (!job.MailGroup.empty()) {
            std::vector<const TAlert*> list;
            for (const TAlert& a : job.Alerts)
                list.push_back(&a);
            why = RunSendmail(rules_.Sendmail,
                              ComposeAlertMail(list, job.Dest.substr(5), host_, Now()), stop_,
                              std::chrono::milliseconds(options_.SendTimeoutMs));
            if (why.empty()) ++mails_;
        } else {
            const auto sink = sinks_.find(job.Dest);
            if (sink == sinks_.end() || !sink->second) {
                skipped = true;
                std::lock_guard<std::mutex> lock(mutex_);
                if (toldMissing_.insert(job.Dest).second)
                    seam::Journal(
                        seam::TPriority::Warning,
                        "Оповещения в «" + job.Dest + "» не доставляются: это место не подключено");
            } else {
                why = sink->second->Deliver(job.Alerts[0]);
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        if (!why.empty()) {
            if (stop_) break;  // killed on the way out: it stays in the outbox
            Failed(job.Dest, why);
            failed.insert(job.Dest);
            later(backoff_[job.Dest].Next);
            continue;
        }
        Succeeded(job.Dest);
        if (!job.MailGroup.empty()) state_.LastMail[job.MailGroup] = Now();
        for (const TAlert& a : job.Alerts)
            Done(a.Key, job.Dest);
        // A journal line told twice after a kill harms nobody, while a
        // forced write per line would cost the disk more than the reading
        // does: those are written down with the next write of the state, at
        // most kSaveEvery later.
        if (job.Dest == "journal" || skipped)
            dirty_ = true;
        else
            Save();
        if (!job.MailGroup.empty()) later(Now() + options_.MailInterval);
    }
    return next;
}
