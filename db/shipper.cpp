#include "db/shipper.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <pqxx/pqxx>

#include "base/cp1251.h"
#include "base/fd.h"
#include "base/message_seam.h"
#include "db/schema.h"
#include "reports/calllog_loader.h"

namespace {

// Bytes kept of the end of what was shipped, to know the file again.
constexpr size_t kTailLength = 64;

// One complete line of the file: where it starts and its text without the
// line end.
struct TLine {
    int64_t Offset;
    std::string_view Text;
};

// The complete lines of buf (which starts at offset base), split as the
// report splits them; returns the bytes they take.
size_t CompleteLines(std::string_view buf, int64_t base, std::vector<TLine>& lines) {
    auto sink = [&](const char* begin, size_t length) {
        lines.push_back({base + (begin - buf.data()), std::string_view(begin, length)});
    };
    return SplitCallLogLines(buf.data(), buf.size(), false, sink);
}

// Whether line is a call as the report reads it, into rec.
bool IsCall(std::string_view line, TExtStr_rep& rec) {
    return line.size() <= kMaxCallLogLineLength && ParseCallLogLine(line, rec);
}

// Bytes of the office, line and dialled numbers an entry of the index
// calls_site_line may hold: the server takes 2704 bytes an entry, of which
// the other columns and the headers take about 50. Compression is not
// counted on, so that whether a call ships never depends on its digits.
constexpr size_t kMaxIndexedText = 2600;

// Why the server would refuse the row of a call, or nullptr. A refused row
// fails the whole COPY, and every later call of the file with it.
const char* Refusal(std::string_view line, const TExtStr_rep& rec, const std::string& site) {
    if (line.find('\0') != std::string_view::npos) return "в строке нулевой байт";
    if (site.size() + rec.HwLine.size() + rec.ExtNumber.size() > kMaxIndexedText)
        return "номер линии и набранный номер длиннее 2600 байт, которые вмещает индекс";
    return nullptr;
}

// Whether line is a call the database takes, into rec.
bool IsShippable(std::string_view line, TExtStr_rep& rec, const std::string& site) {
    return IsCall(line, rec) && !Refusal(line, rec, site);
}

// "YYYY-MM-DD hh:mm:ss" of an accepted call line's start.
std::string StartText(std::string_view s) {
    std::string t;
    t.reserve(19);
    t.append(s.substr(6, 4)).append("-").append(s.substr(3, 2)).append("-");
    t.append(s.substr(0, 2)).append(" ").append(s.substr(11, 2)).append(":");
    t.append(s.substr(14, 2)).append(":").append(s.substr(17, 2));
    return t;
}

// How long Stop lets a pass end by itself, and then a cancelled statement.
constexpr std::chrono::milliseconds kStopGrace{1000}, kCancelGrace{500};

std::string BehindText(uint64_t calls, bool known) {
    return known ? "ждут отправки звонков: " + std::to_string(calls)
                 : "сколько звонков ждут отправки, неизвестно";
}

}  // namespace

TShipper::TShipper(TDbConfig config) : TShipper(std::move(config), TOptions{}) {}

TShipper::TShipper(TDbConfig config, TOptions options)
    : config_(std::move(config)), options_(options) {}

TShipper::~TShipper() {
    Stop();
}

void TShipper::Start(const TShipSource& source) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (thread_.joinable()) return;
    source_ = source;
    notified_ = true;
    stop_ = false;
    running_ = true;
    interrupt_.Reset();
    thread_ = std::thread([this] {
        Run();
        std::lock_guard<std::mutex> ended(mutex_);
        running_ = false;
        ended_.notify_all();
    });
    watchdog_ = std::thread([this] { Watch(); });
}

void TShipper::Notify(const TShipSource& source) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        source_ = source;
        notified_ = true;
    }
    wake_.notify_one();
}

void TShipper::Stop(TDrain drain) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        drain_ = drain == TDrain::LastLines;
        stop_ = true;
    }
    wake_.notify_one();
    if (!thread_.joinable()) return;
    auto ended = [&](std::chrono::milliseconds grace) {
        std::unique_lock<std::mutex> lock(mutex_);
        return ended_.wait_for(lock, grace, [this] { return !running_; });
    };
    // A server that holds a lock, or never answers, must not hold the stop.
    if (!ended(kStopGrace)) {
        interrupt_.Cancel();
        if (!ended(kCancelGrace)) interrupt_.Sever();
    }
    thread_.join();
    watchdog_.join();
}

void TShipper::Waiting(std::string what) {
    std::lock_guard<std::mutex> lock(mutex_);
    waitingFor_ = std::move(what);
    waitingSince_ = std::chrono::steady_clock::now();
    waitTold_ = false;
}

void TShipper::Watch() {
    const auto tick = std::clamp<std::chrono::milliseconds>(
        options_.WarnAfter / 4, std::chrono::milliseconds(10), std::chrono::seconds(1));
    char limit[32];
    std::snprintf(limit, sizeof limit, "%g", options_.WarnAfter.count() / 1000.0);
    std::string seconds = limit;
    std::replace(seconds.begin(), seconds.end(), '.', ',');
    std::unique_lock<std::mutex> lock(mutex_);
    while (!ended_.wait_for(lock, tick, [this] { return !running_; })) {
        if (waitingFor_.empty() || waitTold_ ||
            std::chrono::steady_clock::now() - waitingSince_ < options_.WarnAfter)
            continue;
        waitTold_ = true;
        const std::string line = "Отправка звонков площадки «" + config_.Site +
                                 "» в базу данных ждет дольше " + seconds + " с " + waitingFor_;
        lock.unlock();
        seam::Journal(seam::TPriority::Warning, line);
        lock.lock();
    }
}

bool TShipper::Stalled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stalled_;
}

void TShipper::Run() {
    auto retryAt = std::chrono::steady_clock::time_point::min();
    uint64_t shippedAtStall = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (stalled_)
            wake_.wait_until(lock, retryAt, [this] { return stop_.load(); });
        else
            wake_.wait(lock, [this] { return stop_ || notified_; });
        if (stop_) {
            // One last pass (which stop_ alone would end at once) for what
            // was written since the last, or what a pass left when stopped.
            if (!drain_ || stalled_) return;
            const TShipSource source = source_;
            lock.unlock();
            draining_ = true;
            ShipPending(source);
            return;
        }
        notified_ = false;
        const TShipSource source = source_;
        lock.unlock();
        const TShipResult r = ShipPending(source);
        const bool failed = r.State == TShipState::Failed;
        std::string line;
        seam::TPriority priority = seam::TPriority::Info;
        if (failed) {
            retryAt = std::chrono::steady_clock::now() + options_.RetryAfter;
            if (!Stalled()) {
                const bool known = knownOffset_ >= 0 && source.Path == knownPath_;
                priority = seam::TPriority::Warning;
                line = "Звонки площадки «" + config_.Site +
                       "» не уходят в базу данных: " + r.Error + "; " +
                       BehindText(known ? CountBehind(source) : 0, known) +
                       ". Считывание продолжается, звонки уйдут, когда база ответит";
                shippedAtStall = shipped_;
            }
        } else if (Stalled() && r.State != TShipState::Stopped) {
            line = "Звонки площадки «" + config_.Site + "» снова уходят в базу данных: " +
                   "отправлено ожидавших звонков: " + std::to_string(shipped_ - shippedAtStall);
        }
        if (!line.empty()) seam::Journal(priority, line);
        lock.lock();
        if (r.State != TShipState::Stopped) stalled_ = failed;
    }
}

TShipResult TShipper::ShipPending(const TShipSource& source) {
    TShipResult total;
    if (source.Path.empty()) {
        total.State = TShipState::NoFile;
        return total;
    }
    for (bool more = true; more;) {
        if ((stop_ && !draining_) || interrupt_.Cancelled()) {
            total.State = TShipState::Stopped;
            return total;
        }
        more = false;
        TShipResult r;
        // An idle connection's server never speaks unasked: a socket with
        // something to read means the server ended the session or went
        // away. Such a connection is dropped unused, as libpqxx leaks
        // memory each time it finds a connection broken.
        if (connection_) {
            pollfd socket{connection_->sock(), POLLIN, 0};
            if (socket.fd < 0 || poll(&socket, 1, 0) != 0) connection_.reset();
        }
        try {
            if (!connection_) {
                Waiting("ответа сервера на подключение (" + ConnInfoForDisplay(config_.ConnInfo) +
                        ")");
                auto c = ConnectDb(config_.ConnInfo, &interrupt_);
                // Creating the schema, or an index on a large table, may
                // rightly take long: only its locks are limited.
                const auto set = [&](const char* name, std::chrono::milliseconds value) {
                    pqxx::nontransaction(*c).exec(std::string("SET ") + name + " = " +
                                                  std::to_string(value.count()));
                };
                set("lock_timeout", options_.LockTimeout);
                Waiting(
                    "создания схемы tallyphon: ее таблицы держит другой сеанс, или сервер не "
                    "отвечает");
                EnsureSchema(*c);
                set("statement_timeout", options_.StatementTimeout);
                connection_ = std::move(c);
            }
            r = ShipBatch(source, more);
            Waiting("");
        } catch (const std::exception& e) {
            Waiting("");
            // A server that went away midway leaves libpqxx's words about
            // the broken connection, which tell an administrator little.
            const bool lost = connection_ && !connection_->is_open();
            connection_.reset();
            r.State = TShipState::Failed;
            r.Error = lost ? "связь с сервером базы данных потеряна" : DbErrorText(e);
        }
        total.Calls += r.Calls;
        if (r.State != TShipState::CaughtUp) {
            total.State = r.State;
            total.Error = r.Error;
            return total;
        }
    }
    return total;
}

TShipResult TShipper::ShipBatch(const TShipSource& source, bool& more) {
    TShipResult result;
    more = false;
    TFd fd;
    off_t size = 0;
    const TFileResult opened = OpenRegularFile(source.Path, fd, size);
    if (!opened.Ok()) {
        if (opened.Error == ENOENT) {
            result.State = TShipState::NoFile;
            return result;
        }
        result.State = TShipState::Failed;
        result.Error = LoadFailureText(opened, source.Path);
        return result;
    }
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) {
        result.State = TShipState::Failed;
        result.Error = std::string("fstat: ") + std::strerror(errno);
        return result;
    }
    const auto device = static_cast<int64_t>(st.st_dev);
    const auto inode = static_cast<int64_t>(st.st_ino);

    Waiting(
        "блокировки строки площадки в tallyphon.sites: ее держит другой сеанс, "
        "или сервер не отвечает");
    pqxx::work w(*connection_);
    w.exec_params("INSERT INTO tallyphon.sites (site) VALUES ($1) ON CONFLICT DO NOTHING",
                  config_.Site);
    const pqxx::row site = w.exec_params1(
        "SELECT model, serial FROM tallyphon.sites WHERE site = $1 FOR UPDATE", config_.Site);
    std::string model = source.Model.empty() ? site[0].as<std::string>() : source.Model;
    std::string serial = source.Model.empty() ? site[1].as<std::string>() : source.Serial;

    // The file goes on where it was left when it is the same file (device
    // and inode), no shorter than what was shipped of it, and still holds
    // the bytes shipped last; anything else is a new file, from its start.
    int fileNo = 0;
    int64_t offset = 0;
    const pqxx::result known = w.exec_params(
        "SELECT file_no, shipped_offset, tail FROM tallyphon.files"
        " WHERE site = $1 AND device = $2 AND inode = $3 ORDER BY file_no DESC LIMIT 1",
        config_.Site, device, inode);
    if (!known.empty()) {
        const int64_t was = known[0][1].as<int64_t>();
        const pqxx::binarystring tail(known[0][2]);
        std::string bytes(tail.size(), '\0');
        if (was <= size && static_cast<int64_t>(tail.size()) <= was &&
            (tail.size() == 0 || ReadAll(fd.Get(), bytes.data(), bytes.size(),
                                         was - static_cast<off_t>(tail.size()))) &&
            bytes == tail.str()) {
            fileNo = known[0][0].as<int>();
            offset = was;
        }
    }
    if (fileNo == 0) {
        fileNo = w.exec_params1(
                      "SELECT coalesce(max(file_no), 0) + 1 FROM tallyphon.files"
                      " WHERE site = $1",
                      config_.Site)[0]
                     .as<int>();
        w.exec_params(
            "INSERT INTO tallyphon.files (site, file_no, path, device, inode)"
            " VALUES ($1, $2, $3, $4, $5)",
            config_.Site, fileNo, source.Path, device, inode);
    }

    knownPath_ = source.Path;
    knownDevice_ = static_cast<uint64_t>(device);
    knownInode_ = static_cast<uint64_t>(inode);
    if (offset >= size) {
        w.commit();
        knownOffset_ = offset;
        return result;
    }

    const auto want = static_cast<size_t>(std::min<int64_t>(size - offset, options_.BatchBytes));
    std::string buf(want, '\0');
    if (!ReadAll(fd.Get(), buf.data(), want, offset)) {
        result.State = TShipState::Failed;
        result.Error = LoadFailureText({TFileStatus::CannotRead, errno}, source.Path);
        return result;
    }
    std::vector<TLine> lines;
    size_t used = CompleteLines(buf, offset, lines);
    // A batch with no line end in it at all is one line too long for any
    // call: it is passed over, else the file would stall here forever.
    if (used == 0 && want == options_.BatchBytes) used = want;

    Waiting(
        "записи звонков в tallyphon.calls: таблицу держит другой сеанс, "
        "или сервер не отвечает");
    // Refused calls stay in the file and are told of once, when the offset
    // has moved past them.
    std::vector<std::pair<int64_t, const char*>> refused;
    {
        pqxx::stream_to copy(
            w, "tallyphon.calls",
            std::vector<std::string>{"site", "file_no", "file_offset", "model", "serial", "start",
                                     "duration", "hw_line", "prg_number", "trunk", "dialled",
                                     "log_line"});
        TExtStr_rep rec;
        for (const TLine& line : lines) {
            if (!IsCall(line.Text, rec)) continue;
            if (const char* why = Refusal(line.Text, rec, config_.Site)) {
                refused.emplace_back(line.Offset, why);
                continue;
            }
            copy << std::make_tuple(config_.Site, fileNo, line.Offset, model, serial,
                                    StartText(line.Text), rec.DurTotalSec, rec.HwLine.str(),
                                    rec.PrgLine.str(), rec.Trunk.str(), rec.ExtNumber.str(),
                                    Cp1251ToUtf8(line.Text));
            ++result.Calls;
        }
        copy.complete();
    }
    const int64_t shipped = offset + static_cast<int64_t>(used);
    const size_t tailLength = std::min(used, kTailLength);
    const std::string tail = buf.substr(used - tailLength, tailLength);
    w.exec_params(
        "UPDATE tallyphon.files SET shipped_offset = $3, tail = $4,"
        " last_shipped = now() WHERE site = $1 AND file_no = $2",
        config_.Site, fileNo, shipped, pqxx::binarystring(tail));
    w.exec_params(
        "UPDATE tallyphon.sites SET file_no = $2, model = $3, serial = $4,"
        " shipped_calls = shipped_calls + $5, shipped_at = now() WHERE site = $1",
        config_.Site, fileNo, model, serial, static_cast<int64_t>(result.Calls));
    w.commit();
    for (const auto& [at, why] : refused)
        seam::Journal(seam::TPriority::Error, "Звонок площадки «" + config_.Site + "» в файле «" +
                                                  source.Path + "», байт " + std::to_string(at) +
                                                  ", не принят базой данных и пропущен: " + why);
    shipped_ += result.Calls;
    knownOffset_ = shipped;
    more = shipped < size && used > 0;
    return result;
}

uint64_t TShipper::CountBehind(const TShipSource& source) const {
    TFd fd;
    off_t size = 0;
    if (!OpenRegularFile(source.Path, fd, size).Ok()) return 0;
    struct stat st {};
    if (fstat(fd.Get(), &st) != 0) return 0;
    int64_t from = knownOffset_;
    if (static_cast<uint64_t>(st.st_dev) != knownDevice_ ||
        static_cast<uint64_t>(st.st_ino) != knownInode_ || from > size)
        from = 0;
    uint64_t calls = 0;
    std::string buf(size_t{1} << 20, '\0');
    std::string carry;
    TExtStr_rep rec;
    for (int64_t at = from; at < size;) {
        const auto n = static_cast<size_t>(std::min<int64_t>(size - at, buf.size()));
        if (!ReadAll(fd.Get(), buf.data(), n, at)) break;
        carry.append(buf, 0, n);
        at += static_cast<int64_t>(n);
        std::vector<TLine> lines;
        const size_t used = CompleteLines(carry, 0, lines);
        for (const TLine& line : lines)
            if (IsShippable(line.Text, rec, config_.Site)) ++calls;
        carry.erase(0, used);
        if (carry.size() > kMaxCallLogLineLength) carry.clear();
    }
    return calls;
}
