#include "db/shipper.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include <zlib.h>
#include <pqxx/pqxx>

#include "base/cp1251.h"
#include "base/fd.h"
#include "base/message_seam.h"
#include "calllog/calllog_loader.h"
#include "calllog/file_identity.h"
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

// Bytes of the texts of a call an index entry may hold: the server takes
// 2704 bytes an entry, of which the other columns and the headers take
// about 50. The sums' keys hold the office with the line or the trunk;
// the line is counted with the dialled number, as the index of the calls
// that the sums replaced held both, so that a call refused once is refused
// by every version. Compression is not counted on, so that whether a call
// ships never depends on its digits.
constexpr size_t kMaxIndexedText = 2600;

// Why the server would refuse the row of a call, or nullptr. A refused row
// fails the whole COPY, and every later call of the file with it.
const char* Refusal(std::string_view line, const TExtStr_rep& rec, const std::string& site) {
    if (line.find('\0') != std::string_view::npos) return "в строке нулевой байт";
    if (site.size() + rec.HwLine.size() + rec.ExtNumber.size() > kMaxIndexedText)
        return "номер линии и набранный номер длиннее 2600 байт, которые вмещает индекс";
    if (site.size() + rec.Trunk.size() > kMaxIndexedText)
        return "номер СЛ длиннее 2600 байт, которые вмещает индекс";
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

// Whether the file starts as gzip's output does, which no call-log file
// (text) does. Its compressed bytes must never be taken for a head: a line
// end among them would make an identity of them.
bool Compressed(int fd) {
    unsigned char magic[2];
    return ReadAll(fd, magic, sizeof magic, 0) && magic[0] == 0x1f && magic[1] == 0x8b;
}

// The identity and length of a call-log file compressed by gzip (as
// logrotate's "compress" leaves it), from its head and its trailer. Its
// calls cannot be shipped from it, but what it took away can be told.
bool GzIdentity(const std::string& site, int fd, off_t size, int64_t& id, int64_t& length) {
    unsigned char trailer[4];
    if (size < 18 || !ReadAll(fd, trailer, sizeof trailer, size - 4)) return false;
    // The length modulo 2^32, as gzip keeps it; a call log is far shorter.
    length = trailer[0] | trailer[1] << 8 | trailer[2] << 16 | int64_t{trailer[3]} << 24;
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    std::string head(kCallLogHeadLength, '\0');
    std::string in(size_t{1} << 14, '\0');
    z.next_out = reinterpret_cast<Bytef*>(head.data());
    z.avail_out = static_cast<uInt>(head.size());
    int rc = Z_OK;
    for (off_t at = 0; rc == Z_OK && z.avail_out > 0 && at < size;) {
        const auto n = static_cast<size_t>(std::min<off_t>(size - at, in.size()));
        if (!ReadAll(fd, in.data(), n, at)) break;
        at += static_cast<off_t>(n);
        z.next_in = reinterpret_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(n);
        while (rc == Z_OK && z.avail_out > 0 && z.avail_in > 0)
            rc = inflate(&z, Z_NO_FLUSH);
    }
    head.resize(head.size() - z.avail_out);
    inflateEnd(&z);
    if (rc != Z_OK && rc != Z_STREAM_END) return false;
    return HeadIdentity(site, std::move(head), id);
}

// Whether the file still holds tail just before offset, where its
// shipping was left.
bool HoldsTail(int fd, off_t size, int64_t offset, const std::string& tail) {
    if (offset > size || static_cast<int64_t>(tail.size()) > offset) return false;
    std::string bytes(tail.size(), '\0');
    return ReadAll(fd, bytes.data(), bytes.size(), offset - static_cast<off_t>(tail.size())) &&
           bytes == tail;
}

// The number a new file of site is shipped under.
int NextFileNo(pqxx::work& w, const std::string& site) {
    return w
        .exec_params1(
            "SELECT greatest((SELECT max(file_no) FROM tallyphon.files WHERE site = $1),"
            " (SELECT max(file_no) FROM tallyphon.calls WHERE site = $1), 0) + 1",
            site)[0]
        .as<int>();
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
    // Held now, on the writer's thread, so that a file written to is
    // never renamed away unseen, whatever the shipping thread is doing.
    Observe(source.Path);
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
    using clock = std::chrono::steady_clock;
    auto retryAt = clock::time_point::min();
    auto toldAt = retryAt;
    auto retryWait = options_.RetryAfter;
    auto recheckAt = clock::time_point::max();
    std::string toldError;
    uint64_t shippedAtStall = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        // Lines written while the server is out of reach wait for the
        // retry; the files they are in stay open (Notify) until then. A
        // rotated file at its end is looked at again once it has settled.
        const auto woken = [this] { return stop_ || notified_; };
        if (stalled_)
            wake_.wait_until(lock, retryAt, [this] { return stop_.load(); });
        else if (recheckAt == clock::time_point::max())
            wake_.wait(lock, woken);
        else
            wake_.wait_until(lock, recheckAt, woken);
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
        recheckAt = settleAt_;
        const bool failed = r.State == TShipState::Failed;
        std::string line;
        seam::TPriority priority = seam::TPriority::Info;
        if (failed) {
            const auto now = std::chrono::steady_clock::now();
            retryAt = now + retryWait;
            retryWait = std::min(retryWait * 2, std::max(options_.RetryMax, options_.RetryAfter));
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
        } else if (r.State != TShipState::Stopped) {
            retryWait = options_.RetryAfter;
        }
        if (!failed && Stalled() && r.State != TShipState::Stopped) {
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
    // Held before the server is asked: a file seen now is shipped later,
    // whatever it is renamed to meanwhile.
    Observe(source.Path);
    settleAt_ = std::chrono::steady_clock::time_point::max();
    bool searched = false;
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
                if (const std::string missing = EnsureSchema(*c);
                    !missing.empty() && !toldSchema_) {
                    seam::Journal(seam::TPriority::Warning, "Звонки площадки «" + config_.Site +
                                                                "» уходят в базу данных, но " +
                                                                missing);
                    toldSchema_ = true;
                }
                set("statement_timeout", options_.StatementTimeout);
                connection_ = std::move(c);
            }
            if (!searched) {
                FindRotated(source);
                searched = true;
            }
            r = ShipNext(source, more);
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

TShipper::THeld TShipper::Observe(const std::string& path, TFileResult* opened) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        std::lock_guard<std::mutex> lock(heldMutex_);
        for (const THeld& file : held_)
            if (file->Device == static_cast<uint64_t>(st.st_dev) &&
                file->Inode == static_cast<uint64_t>(st.st_ino)) {
                if (opened) *opened = {};
                return file;
            }
    }
    auto file = std::make_shared<THeldFile>();
    const TFileResult result = OpenRegularFile(path, file->Fd, file->Size);
    if (opened) *opened = result;
    if (!result.Ok() || fstat(file->Fd.Get(), &st) != 0) return nullptr;
    file->Device = static_cast<uint64_t>(st.st_dev);
    file->Inode = static_cast<uint64_t>(st.st_ino);
    file->Path = path;
    file->Since = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(heldMutex_);
    // Another thread may have held it meanwhile.
    for (const THeld& held : held_)
        if (held->Device == file->Device && held->Inode == file->Inode) return held;
    held_.push_back(file);
    return file;
}

std::vector<TShipper::THeld> TShipper::HeldFiles() const {
    std::lock_guard<std::mutex> lock(heldMutex_);
    return held_;
}

void TShipper::Release(const THeld& file) {
    std::lock_guard<std::mutex> lock(heldMutex_);
    held_.erase(std::remove(held_.begin(), held_.end(), file), held_.end());
}

off_t TShipper::SizeOf(const THeldFile& file) {
    struct stat st {};
    return fstat(file.Fd.Get(), &st) == 0 ? st.st_size : 0;
}

void TShipper::FindRotated(const TShipSource& source) {
    // Once at start, and whenever another file takes the name (or the
    // file there is cut and written anew): what left the name then is
    // looked for here, unless it is held already.
    const THeld current = Observe(source.Path);
    int64_t currentId = 0;
    if (current) FileIdentity(config_.Site, current->Fd.Get(), SizeOf(*current), currentId);
    if (searched_ && currentId == searchedId_) return;

    std::vector<std::pair<uint64_t, uint64_t>> heldInodes;
    std::vector<int64_t> heldIds;
    for (const THeld& file : HeldFiles()) {
        heldInodes.emplace_back(file->Device, file->Inode);
        int64_t id = 0;
        if (FileIdentity(config_.Site, file->Fd.Get(), SizeOf(*file), id)) heldIds.push_back(id);
    }
    const auto held = [&](int64_t id) {
        return std::find(heldIds.begin(), heldIds.end(), id) != heldIds.end();
    };

    // The rotated names: every other file of the directory whose name
    // starts with the call-log's, as logrotate's recipes name them.
    const size_t slash = source.Path.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : source.Path.substr(0, slash + 1);
    const std::string name = source.Path.substr(dir.size());
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.empty() ? "." : dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            const std::string n = e->d_name;
            if (n.size() > name.size() && n.compare(0, name.size(), name) == 0) names.push_back(n);
        }
        closedir(d);
    }
    struct TRotated {
        THeld File;
        int64_t Id = 0;
        bool Gz = false;
        int64_t Length = 0;  // of the calls it holds; a compressed one's unpacked
        timespec Written{};
    };
    std::vector<TRotated> rotated;
    for (const std::string& n : names) {
        TRotated r;
        r.File = std::make_shared<THeldFile>();
        struct stat st {};
        if (!OpenRegularFile(dir + n, r.File->Fd, r.File->Size).Ok() ||
            fstat(r.File->Fd.Get(), &st) != 0 ||
            std::find(heldInodes.begin(), heldInodes.end(),
                      std::make_pair(static_cast<uint64_t>(st.st_dev),
                                     static_cast<uint64_t>(st.st_ino))) != heldInodes.end())
            continue;
        r.File->Device = static_cast<uint64_t>(st.st_dev);
        r.File->Inode = static_cast<uint64_t>(st.st_ino);
        r.File->Path = dir + n;
        r.File->Since = std::chrono::steady_clock::now();
        r.Written = st.st_mtim;
        r.Length = r.File->Size;
        r.Gz = Compressed(r.File->Fd.Get());
        if (r.Gz ? GzIdentity(config_.Site, r.File->Fd.Get(), r.File->Size, r.Id, r.Length)
                 : FileIdentity(config_.Site, r.File->Fd.Get(), r.File->Size, r.Id))
            rotated.push_back(std::move(r));
    }
    const auto later = [](const timespec& a, const timespec& b) {
        return std::tie(a.tv_sec, a.tv_nsec) > std::tie(b.tv_sec, b.tv_nsec);
    };

    pqxx::work w(*connection_);
    const pqxx::result rows = w.exec_params(
        "SELECT file_no, path, shipped_offset, tail, file_id, seen_bytes, finished"
        " FROM tallyphon.files WHERE site = $1 AND file_id IS NOT NULL ORDER BY file_no",
        config_.Site);
    const auto known = [&](int64_t id) {
        for (const pqxx::row& row : rows)
            if (row[4].as<int64_t>() == id) return true;
        return false;
    };
    // The last write to a rotated file the database knows: a file it does
    // not know that was written later came after it, was never shipped
    // (written while the server was out of reach and the program started
    // again), and is shipped now. Older unknown files are the archive of
    // the time before shipping, left alone.
    std::optional<timespec> newestKnown;
    for (const TRotated& r : rotated)
        if (known(r.Id) && (!newestKnown || later(r.Written, *newestKnown)))
            newestKnown = r.Written;

    std::vector<const TRotated*> found;
    std::vector<std::string> lost;
    const auto told = [&](const std::string& path, int64_t offset, const std::string& why,
                          int64_t bytes) {
        lost.push_back("Звонки площадки «" + config_.Site + "» из файла «" + path + "» с байта " +
                       std::to_string(offset) + " не отправлены в базу данных и уже не будут: " +
                       why + "; не отправлено байт: " + std::to_string(bytes));
    };
    const auto compressed = [](const std::string& gz) {
        return "после ротации файл сжат в «" + gz + "», а сжатый файл не читается";
    };
    for (const pqxx::row& row : rows) {
        const int64_t id = row[4].as<int64_t>();
        if (row[6].as<bool>() || held(id) || id == currentId) continue;
        const int64_t offset = row[2].as<int64_t>();
        const std::string tail = pqxx::binarystring(row[3]).str();
        const TRotated* there = nullptr;
        for (const TRotated& r : rotated)
            if (r.Id == id &&
                (r.Gz || offset == 0 || HoldsTail(r.File->Fd.Get(), r.File->Size, offset, tail)))
                there = there && !there->Gz ? there : &r;
        if (there && !there->Gz) {
            found.push_back(there);
            continue;
        }
        // Its calls past offset are gone for good: told once, as the row is
        // done with from now on. Without the file, its length when last
        // shipped is all that is known of it.
        w.exec_params("UPDATE tallyphon.files SET finished = true WHERE site = $1 AND file_no = $2",
                      config_.Site, row[0].as<int>());
        const int64_t length = there ? there->Length : row[5].as<int64_t>();
        if (length > offset)
            told(row[1].as<std::string>(), offset,
                 there ? compressed(there->File->Path)
                       : "после ротации файла его нет среди файлов «" + source.Path + "*»",
                 length - offset);
    }
    for (const TRotated& r : rotated) {
        // Written no earlier: file times are only as fine as the clock's
        // tick, and a rotated file never outlives the one after it.
        if (known(r.Id) || held(r.Id) || !newestKnown || later(*newestKnown, r.Written)) continue;
        if (!r.Gz) {
            found.push_back(&r);
            continue;
        }
        // Kept as done with, so that it is told of once.
        w.exec_params(
            "INSERT INTO tallyphon.files (site, file_no, path, device, inode, file_id,"
            " finished, seen_bytes) VALUES ($1, $2, $3, $4, $5, $6, true, $7)",
            config_.Site, NextFileNo(w, config_.Site), r.File->Path,
            static_cast<int64_t>(r.File->Device), static_cast<int64_t>(r.File->Inode), r.Id,
            r.Length);
        told(r.File->Path, 0, compressed(r.File->Path), r.Length);
    }
    w.commit();
    searched_ = true;
    searchedId_ = currentId;
    for (const std::string& line : lost)
        seam::Journal(seam::TPriority::Error, line);
    // Shipped in the order they were written, before the files held, which
    // came after them.
    std::sort(found.begin(), found.end(),
              [&](const TRotated* a, const TRotated* b) { return later(b->Written, a->Written); });
    std::vector<THeld> files;
    for (const TRotated* r : found)
        files.push_back(r->File);
    std::lock_guard<std::mutex> lock(heldMutex_);
    held_.insert(held_.begin(), files.begin(), files.end());
}

TShipResult TShipper::ShipNext(const TShipSource& source, bool& more) {
    TFileResult opened;
    const THeld current = Observe(source.Path, &opened);
    const auto now = std::chrono::steady_clock::now();
    for (const THeld& file : HeldFiles()) {
        if (file == current) continue;
        // Done with once it has stayed at its end, the writer's last line
        // in it finished, and the name holds another file.
        struct stat st {};
        if (fstat(file->Fd.Get(), &st) == 0 && st.st_size != file->Size) {
            file->Size = st.st_size;
            file->Since = now;
        }
        const bool settled = current && now - file->Since >= options_.RotatedSettle;
        if (file->AtEnd == file->Size && !settled) {
            settleAt_ = std::min(settleAt_, file->Since + options_.RotatedSettle);
            continue;
        }
        bool done = false;
        TShipResult r = ShipBatch(*file, source, false, settled, more, done);
        if (done) Release(file);
        if (r.State != TShipState::CaughtUp || more || r.Calls > 0) {
            more = more || r.State == TShipState::CaughtUp;
            return r;
        }
        file->AtEnd = file->Size;
        if (!done) settleAt_ = std::min(settleAt_, file->Since + options_.RotatedSettle);
    }
    if (!current) {
        TShipResult result;
        if (opened.Error == ENOENT) {
            result.State = TShipState::NoFile;
            return result;
        }
        result.State = TShipState::Failed;
        result.Error = LoadFailureText(opened, source.Path);
        return result;
    }
    bool done = false;
    return ShipBatch(*current, source, true, false, more, done);
}

TShipResult TShipper::ShipBatch(THeldFile& file, const TShipSource& source, bool current,
                                bool finish, bool& more, bool& done) {
    TShipResult result;
    more = false;
    done = false;
    struct stat st {};
    if (fstat(file.Fd.Get(), &st) != 0) {
        result.State = TShipState::Failed;
        result.Error = std::string("fstat: ") + std::strerror(errno);
        return result;
    }
    const off_t size = st.st_size;
    const auto device = static_cast<int64_t>(st.st_dev);
    const auto inode = static_cast<int64_t>(st.st_ino);
    const TFd& fd = file.Fd;
    const std::string& path = file.Path;

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
    if (!FileIdentity(config_.Site, fd.Get(), size, fileId)) {
        // Not one line yet: nothing to ship, nor to know it by.
        done = finish;
        return result;
    }
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
            result.Error = "файл «" + path + "» не отправляется: в базе данных он " +
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
        fileNo = !was.empty() ? was[0][0].as<int>() : NextFileNo(w, config_.Site);
        w.exec_params(
            "INSERT INTO tallyphon.files (site, file_no, path, device, inode, file_id)"
            " VALUES ($1, $2, $3, $4, $5, $6) ON CONFLICT (site, file_no) DO UPDATE"
            " SET file_id = excluded.file_id, shipped_offset = 0, tail = '', finished = false",
            config_.Site, fileNo, path, device, inode, fileId);
    }

    const auto finished = [&] {
        w.exec_params("UPDATE tallyphon.files SET finished = true WHERE site = $1 AND file_no = $2",
                      config_.Site, fileNo);
        done = true;
    };
    if (current) {
        knownPath_ = path;
        knownDevice_ = static_cast<uint64_t>(device);
        knownInode_ = static_cast<uint64_t>(inode);
    }
    if (offset >= size) {
        if (finish) finished();
        w.commit();
        if (current) knownOffset_ = offset;
        return result;
    }

    const auto want = static_cast<size_t>(std::min<int64_t>(size - offset, options_.BatchBytes));
    std::string buf(want, '\0');
    if (!ReadAll(fd.Get(), buf.data(), want, offset)) {
        result.State = TShipState::Failed;
        result.Error = LoadFailureText({TFileStatus::CannotRead, errno}, path);
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
    more = shipped < size && used > 0;
    w.exec_params(
        "UPDATE tallyphon.files SET shipped_offset = $3, tail = $4, seen_bytes = $5,"
        " last_shipped = now() WHERE site = $1 AND file_no = $2",
        config_.Site, fileNo, shipped, pqxx::binarystring(tail), static_cast<int64_t>(size));
    if (finish && !more) finished();
    w.exec_params(
        "UPDATE tallyphon.sites SET file_no = CASE WHEN $6 THEN $2 ELSE file_no END,"
        " model = $3, serial = $4, shipped_calls = shipped_calls + $5, shipped_at = now()"
        " WHERE site = $1",
        config_.Site, fileNo, model, serial, static_cast<int64_t>(result.Calls), current);
    w.commit();
    for (const auto& [at, why] : refused)
        seam::Journal(seam::TPriority::Error, "Звонок площадки «" + config_.Site + "» в файле «" +
                                                  path + "», байт " + std::to_string(at) +
                                                  ", не принят базой данных и пропущен: " + why);
    shipped_ += result.Calls;
    if (current) knownOffset_ = shipped;
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
