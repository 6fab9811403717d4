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
#include "calllog/calllog_loader.h"
#include "db/schema.h"

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

// Whether a failure passes by itself (the server out of reach, a lock or a
// statement over the session's limits, a cancel, a transaction the server
// rolled back) and is an outage to wait out; any other needs mending.
bool Passing(const std::exception& e) {
    if (dynamic_cast<const pqxx::broken_connection*>(&e)) return true;
    const auto* sql = dynamic_cast<const pqxx::sql_error*>(&e);
    if (!sql) return false;
    const std::string& state = sql->sqlstate();
    return state == "57014" || state == "55P03" || state.rfind("40", 0) == 0 ||
           state.rfind("57P", 0) == 0;
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

// Calls fn with each call line of fd from offset from to size, and the
// call it holds, until it returns false.
template <class Fn>
void ForEachCall(int fd, int64_t from, off_t size, Fn fn) {
    std::string buf(size_t{1} << 20, '\0');
    std::string carry;
    TExtStr_rep rec;
    for (int64_t at = from; at < size;) {
        const auto n = static_cast<size_t>(std::min<int64_t>(size - at, buf.size()));
        if (!ReadAll(fd, buf.data(), n, at)) return;
        const int64_t base = at - static_cast<int64_t>(carry.size());
        carry.append(buf, 0, n);
        at += static_cast<int64_t>(n);
        std::vector<TLine> lines;
        const size_t used = CompleteLines(carry, base, lines);
        for (const TLine& line : lines)
            if (IsCall(line.Text, rec) && !fn(line, rec)) return;
        carry.erase(0, used);
        if (carry.size() > kMaxCallLogLineLength) carry.clear();
    }
}

// The offset and text of the file's first call line; false when it has
// none.
bool FirstCall(int fd, off_t size, int64_t& offset, std::string& text) {
    bool found = false;
    ForEachCall(fd, 0, size, [&](const TLine& line, const TExtStr_rep&) {
        offset = line.Offset;
        text = std::string(line.Text);
        return !(found = true);
    });
    return found;
}

// Bytes of a file's first line that name the file at most.
constexpr size_t kHeadLength = 4096;

// The file's identity: a 64-bit hash (FNV-1a, then mixed) of its head,
// the bytes up to the end of its first line that is not blank (a title
// line, or the first call, with the exchange's clock in it), or its first
// kHeadLength bytes when no such line ends there. A file only grows, so
// its head never changes; a copy of it is the same file, and a file
// replaced or cut and written anew is another. False while the head is
// not complete.
bool FileIdentity(const std::string& site, int fd, off_t size, int64_t& id) {
    std::string head(static_cast<size_t>(std::min<off_t>(size, kHeadLength)), '\0');
    if (!ReadAll(fd, head.data(), head.size(), 0)) return false;
    const size_t text = head.find_first_not_of("\r\n");
    const size_t end = text == std::string::npos ? text : head.find('\n', text);
    if (end != std::string::npos)
        head.resize(end + 1);
    else if (head.size() < kHeadLength)
        return false;
    uint64_t h = 0xcbf29ce484222325u;
    for (const char c : site + '\0' + head)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9u;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebu;
    id = static_cast<int64_t>(h ^ (h >> 31));
    return true;
}

// Whether the file still holds tail just before offset, where its
// shipping was left.
bool HoldsTail(int fd, off_t size, int64_t offset, const std::string& tail) {
    if (offset > size || static_cast<int64_t>(tail.size()) > offset) return false;
    std::string bytes(tail.size(), '\0');
    return ReadAll(fd, bytes.data(), bytes.size(), offset - static_cast<off_t>(tail.size())) &&
           bytes == tail;
}

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
    auto toldAt = retryAt;
    std::string toldError;
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
            const auto now = std::chrono::steady_clock::now();
            retryAt = now + options_.RetryAfter;
            // An outage is told once; what needs mending, or a new
            // reason, again while it lasts, so the journal's last word is
            // the real one.
            if (!Stalled() ||
                (now >= toldAt + options_.RepeatAfter && (r.Damaged || r.Error != toldError))) {
                const bool known = knownOffset_ >= 0 && source.Path == knownPath_;
                priority = r.Damaged ? seam::TPriority::Error : seam::TPriority::Warning;
                line = "Звонки площадки «" + config_.Site +
                       "» не уходят в базу данных: " + r.Error + "; " +
                       BehindText(known ? CountBehind(source) : 0, known) +
                       (r.Damaged ? ". Считывание продолжается, звонки уйдут, когда это "
                                    "будет исправлено"
                                  : ". Считывание продолжается, звонки уйдут, когда база "
                                    "ответит");
                if (!Stalled()) shippedAtStall = shipped_;
                toldAt = now;
                toldError = r.Error;
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
            r.Damaged = !lost && !Passing(e);
        }
        total.Calls += r.Calls;
        if (r.State != TShipState::CaughtUp) {
            total.State = r.State;
            total.Error = r.Error;
            total.Damaged = r.Damaged;
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

    // The file goes on where the row of its identity left it. That place
    // must be a line start of this very file: the stored tail just before
    // it, or the start. Anything else is damage, and guessing could lose
    // or double calls, so the file waits for the administrator.
    int64_t fileId = 0;
    if (!FileIdentity(config_.Site, fd.Get(), size, fileId)) return result;
    int fileNo = 0;
    int64_t offset = 0;
    const pqxx::result known = w.exec_params(
        "SELECT file_no, shipped_offset, tail FROM tallyphon.files"
        " WHERE site = $1 AND file_id = $2",
        config_.Site, fileId);
    if (!known.empty()) {
        fileNo = known[0][0].as<int>();
        offset = known[0][1].as<int64_t>();
        if (offset != 0 &&
            !HoldsTail(fd.Get(), size, offset, pqxx::binarystring(known[0][2]).str())) {
            result.State = TShipState::Failed;
            result.Damaged = true;
            result.Error = "файл «" + source.Path + "» не отправляется: в базе данных он " +
                           "отправлен до байта " + std::to_string(offset) +
                           ", а это не начало строки в нём (файл изменён или повреждена " +
                           "запись tallyphon.files; 0 в shipped_offset отправит его заново " +
                           "без повторов)";
            return result;
        }
    }
    if (fileNo == 0) {
        // A new file, or one whose row was lost or made by an earlier
        // version (without identity): the latter is known by its first
        // call, there at its place with its very line; it keeps its
        // number and is shipped again from the start, the calls already
        // there passed over by their key.
        int64_t first = 0;
        std::string line;
        const pqxx::result was =
            FirstCall(fd.Get(), size, first, line)
                ? w.exec_params(
                      "SELECT file_no FROM tallyphon.calls WHERE site = $1"
                      " AND start = $2 AND file_offset = $3 AND log_line = $4 LIMIT 1",
                      config_.Site, StartText(line), first, Cp1251ToUtf8(line))
                : pqxx::result();
        fileNo = !was.empty() ? was[0][0].as<int>()
                              : w.exec_params1(
                                     "SELECT greatest((SELECT max(file_no) FROM tallyphon.files"
                                     " WHERE site = $1), (SELECT max(file_no) FROM tallyphon.calls"
                                     " WHERE site = $1), 0) + 1",
                                     config_.Site)[0]
                                    .as<int>();
        w.exec_params(
            "INSERT INTO tallyphon.files (site, file_no, path, device, inode, file_id)"
            " VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (site, file_no) DO UPDATE"
            " SET file_id = excluded.file_id, shipped_offset = 0, tail = ''",
            config_.Site, fileNo, source.Path, device, inode, fileId);
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
    // The calls go straight in by COPY unless the database holds some of
    // them already (a file shipped again), which COPY cannot pass over, or
    // the office's rows are guarded by row-level policies, which COPY does
    // not take: then through a table of this transaction, and from there
    // only the new ones. Either way the key keeps every call once.
    TExtStr_rep rec;
    bool any = false;
    for (const TLine& line : lines)
        if ((any = IsCall(line.Text, rec))) break;
    if (any) {
        // In the key's order, so that the server walks the key's index
        // and never scans the table, whatever its statistics say.
        const bool again = w.exec_params1(
                                "SELECT coalesce((SELECT file_offset >= $3 FROM tallyphon.calls"
                                " WHERE site = $1 AND file_no = $2"
                                " ORDER BY site DESC, file_no DESC, file_offset DESC LIMIT 1),"
                                " false) OR row_security_active('tallyphon.calls')",
                                config_.Site, fileNo, offset)[0]
                               .as<bool>();
        if (again) w.exec("CREATE TEMPORARY TABLE calls_in (LIKE tallyphon.calls) ON COMMIT DROP");
        pqxx::stream_to copy(
            w, again ? "calls_in" : "tallyphon.calls",
            std::vector<std::string>{"site", "file_no", "file_offset", "model", "serial", "start",
                                     "duration", "hw_line", "prg_number", "trunk", "dialled",
                                     "log_line"});
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
        if (again)
            result.Calls = w.exec(
                                "INSERT INTO tallyphon.calls SELECT * FROM calls_in"
                                " ON CONFLICT DO NOTHING")
                               .affected_rows();
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
    // Refused calls are never shipped: they are not behind.
    ForEachCall(fd.Get(), from, size, [&](const TLine& line, const TExtStr_rep& rec) {
        if (!Refusal(line.Text, rec, config_.Site)) ++calls;
        return true;
    });
    return calls;
}
