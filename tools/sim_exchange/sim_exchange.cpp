// The exchange's side of the serial line, served on a pseudo-terminal.
#include "tools/sim_exchange/sim_exchange.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;

// A command whose bytes stop coming for this long is abandoned, so that a
// program that died half-way through one cannot swallow the next session's
// echoes as parameter bytes.
constexpr std::chrono::milliseconds kInterByteTimeout{500};
// Closer than this, the serving thread sleeps to the exact instant instead of
// polling, so a paced byte leaves within microseconds of its slot.
constexpr std::chrono::microseconds kSpinWindow{200};
// Base of the counters in the status reply when they are derived.
constexpr uint16_t kCounterBase = 1000;

std::string Errno(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Waking from a sleep takes some microseconds; the last stretch before a
// byte's slot is waited out awake, so that a paced byte leaves on time.
constexpr std::chrono::microseconds kAwakeWindow{60};

void SleepUntil(TimePoint t) {
    const TimePoint wake = t - kAwakeWindow;
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(wake.time_since_epoch()).count();
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1000000000);
    ts.tv_nsec = static_cast<long>(ns % 1000000000);
    if (wake > Clock::now()) {
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
    while (Clock::now() < t) {
    }
}

void PutLe(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v & 0xFF));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

}  // namespace

struct TSimExchange::Impl {
    enum class TParse { Idle, Status, Param, BlockLen, Block, Sum };
    struct TOut {
        TimePoint At;  // not written before this instant
        uint8_t Byte;
    };
    struct TArmed {
        uint64_t At;  // record reply number that suffers the fault
        TReplyFault Fault;
        std::chrono::milliseconds ComeBack;
        std::string Decoy;
    };
    struct TArrival {
        TimePoint At;
        int Unit;
        std::vector<uint8_t> Payload;
    };
    struct TLiveCall {
        TimePoint Start;
        TimePoint End;
        int Unit;
        TSimCall Call;
        std::vector<uint8_t> Group;  // its line-state group
    };

    mutable std::mutex mu;
    TExchangeConfig cfg;
    std::string linkPath;
    std::string slavePath;
    std::string lastError;

    int master = -1;
    int slaveHold = -1;  // keeps the line up whatever the program opens/closes
    uint64_t generation = 0;
    int wakeFd = -1;
    std::thread thread;
    bool serving = false;
    bool inMemory = false;
    TimePoint memNow{};  // in memory: the latest time passed in
    bool stopRequested = false;
    bool vanished = false;
    bool comeBackPending = false;
    TimePoint comeBackAt{};
    // The link name, apart from the device behind it.
    TLinkState linkState = TLinkState::Shown;
    std::string decoy;
    bool linkBackPending = false;
    TimePoint linkBackAt{};

    // Incoming stream.
    TParse parse = TParse::Idle;
    uint8_t command = 0;
    uint8_t param = 0;
    size_t blockLen = 0;
    std::vector<uint8_t> block;
    TimePoint lastByteAt{};
    std::deque<std::pair<TimePoint, uint8_t>> pendingRx;  // paced: acted on at arrival
    TimePoint rxFree{};                                   // paced: end of the last arrival

    // Outgoing stream.
    std::deque<TOut> out;
    TimePoint txFree{};  // paced: when the line is free to start the next byte
    bool writeBlocked = false;

    // Exchange state.
    int activeUnit = 0;
    std::vector<bool> delivered;  // per unit: the front record went out
    std::vector<TArrival> arrivals;
    std::vector<TLiveCall> live;
    TimePoint servedFrom{};  // when the clock was at Days and Ticks

    // Faults.
    bool silent = false;
    bool identifySilent = false;
    bool firstRecordBad = false;
    int statusChecksumErrors = 0;
    std::map<int, int> echoScript;
    int echoCount = 0;
    uint64_t recordReplies = 0;
    std::vector<TArmed> armed;

    // Observation.
    std::vector<uint8_t> received;
    uint64_t wireBytes = 0;
    int selectCount = 0;

    // --- terminal ---------------------------------------------------------

    // Opens a new pty and points the link at it. False (lastError set) on
    // failure, with nothing left open.
    bool OpenTerminal() {
        int m = posix_openpt(O_RDWR | O_NOCTTY);
        if (m < 0) return Fail(Errno("posix_openpt"));
        fcntl(m, F_SETFD, FD_CLOEXEC);
        char name[128];
        if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, name, sizeof name) != 0) {
            std::string e = Errno("grantpt/unlockpt/ptsname");
            close(m);
            return Fail(e);
        }
        int s = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s < 0) {
            std::string e = Errno(std::string("open ") + name);
            close(m);
            return Fail(e);
        }
        termios t{};
        if (tcgetattr(s, &t) == 0) {
            cfmakeraw(&t);
            cfsetispeed(&t, B19200);
            cfsetospeed(&t, B19200);
            t.c_cflag &= ~(CSIZE | PARENB);
            t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
            t.c_cc[VMIN] = 1;
            t.c_cc[VTIME] = 0;
        }
        if (tcsetattr(s, TCSANOW, &t) != 0) {
            std::string e = Errno("tcsetattr");
            close(s);
            close(m);
            return Fail(e);
        }
        fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
        if (!linkPath.empty() && linkState == TLinkState::Shown && !PlaceLink(name)) {
            close(s);
            close(m);
            return false;
        }
        master = m;
        slaveHold = s;
        slavePath = name;
        ++generation;
        vanished = false;
        ResetLine();
        return true;
    }

    // Replaces a symbolic link (never another kind of file) atomically.
    bool PlaceLink(const std::string& target) {
        struct stat st {};
        if (lstat(linkPath.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            return Fail(linkPath + ": exists and is not a symbolic link");
        std::string tmp = linkPath + ".sim" + std::to_string(getpid());
        unlink(tmp.c_str());
        if (symlink(target.c_str(), tmp.c_str()) != 0) return Fail(Errno("symlink " + tmp));
        if (rename(tmp.c_str(), linkPath.c_str()) != 0) {
            std::string e = Errno("rename to " + linkPath);
            unlink(tmp.c_str());
            return Fail(e);
        }
        return true;
    }

    void RemoveLink() {
        struct stat st {};
        if (!linkPath.empty() && lstat(linkPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            unlink(linkPath.c_str());
    }

    void CloseTerminal() {
        // The name goes first: whoever sees the hang-up must not find the
        // old name still pointing at the dead terminal. A decoy stays.
        if (linkState != TLinkState::Elsewhere) RemoveLink();
        if (master >= 0) close(master);
        if (slaveHold >= 0) close(slaveHold);
        master = slaveHold = -1;
        ++generation;
        ResetLine();
    }

    // Makes the link on disk say what linkState says. False (lastError set)
    // when it cannot be placed.
    bool UpdateLink() {
        if (linkPath.empty()) return true;
        if (linkState == TLinkState::Elsewhere) return PlaceLink(decoy);
        if (linkState == TLinkState::Shown && master >= 0) return PlaceLink(slavePath);
        RemoveLink();
        return true;
    }

    // Points the name as state says (at target when Elsewhere), to come back
    // `back` after from unless back is zero or the name is shown.
    void MoveLink(TLinkState state, const std::string& target, std::chrono::milliseconds back,
                  TimePoint from) {
        linkState = state;
        decoy = target;
        linkBackPending = state != TLinkState::Shown && back.count() > 0;
        linkBackAt = from + back;
        if (!UpdateLink()) std::fprintf(stderr, "%s\n", lastError.c_str());
        Wake();
    }

    // Shows the name again when its time has come by now.
    void LinkBackBy(TimePoint now) {
        if (!linkBackPending || linkBackAt > now) return;
        linkBackPending = false;
        MoveLink(TLinkState::Shown, "", std::chrono::milliseconds(0), now);
    }

    // Forgets everything in flight on the line: a new device starts clean.
    void ResetLine() {
        parse = TParse::Idle;
        block.clear();
        pendingRx.clear();
        out.clear();
        writeBlocked = false;
        rxFree = txFree = TimePoint{};
    }

    void DoVanish() {
        CloseTerminal();
        vanished = true;
        Wake();
    }

    // The device is back: a new terminal, or in memory a clean line. False
    // (lastError set) when no terminal could be opened.
    bool Revive() {
        if (!inMemory) return OpenTerminal();
        ++generation;
        vanished = false;
        ResetLine();
        return true;
    }

    // Whether the device can hear and send: in memory unless vanished, on a
    // terminal while one is open.
    bool LineUp() const { return inMemory ? !vanished : master >= 0; }

    // The time that counts as now for the clock-driven parts (arrivals, a
    // device coming back): the latest time passed in when in memory.
    TimePoint Now() const { return inMemory ? memNow : Clock::now(); }

    // In memory: acts on everything due by t, in the order the serving
    // thread would.
    void CatchUp(TimePoint t) {
        ActOnArrived(t);
        if (comeBackPending && comeBackAt <= t) {
            comeBackPending = false;
            if (vanished) Revive();
        }
        LinkBackBy(t);
        ApplyArrivals(t);
    }

    // In memory: takes now as the latest time (never going back) and acts on
    // everything due by it.
    void Advance(TimePoint now) {
        memNow = std::max(memNow, now);
        CatchUp(memNow);
    }

    // Brings the exchange up to date before it is looked at.
    void Current() {
        if (inMemory)
            CatchUp(memNow);
        else
            ApplyArrivals(Clock::now());
    }

    bool Fail(const std::string& e) {
        lastError = e;
        return false;
    }

    void Wake() {
        if (wakeFd < 0) return;
        uint64_t one = 1;
        ssize_t r = write(wakeFd, &one, sizeof one);
        (void)r;  // a full counter already means "wake up"
    }

    // False (lastError set) when serving already or the configuration
    // cannot be served.
    bool CanStart() {
        lastError.clear();
        if (serving) return Fail("already serving");
        if (cfg.Units.empty()) return Fail("an exchange has at least one unit");
        if (cfg.Name.size() > 254 - 16) return Fail("the exchange name is longer than 238 bytes");
        if (cfg.LineState.size() > 255) return Fail("the line-state reply is longer than 255");
        for (const TUnit& u : cfg.Units)
            for (const auto& r : u.Records)
                if (r.empty() || r.size() > 255) return Fail("a record holds 1 to 255 bytes");
        return true;
    }

    // --- records ----------------------------------------------------------

    void CheckUnit(int unit) const {
        if (unit < 0 || static_cast<size_t>(unit) >= cfg.Units.size())
            throw std::out_of_range("unit " + std::to_string(unit) + " does not exist (" +
                                    std::to_string(cfg.Units.size()) + " units)");
    }

    static void CheckPayload(const std::vector<uint8_t>& payload) {
        if (payload.empty() || payload.size() > 255)
            throw std::invalid_argument("a record payload holds 1 to 255 bytes, not " +
                                        std::to_string(payload.size()));
    }

    int TickLength() const { return cfg.TickByte == 0 ? 6 : cfg.TickByte; }

    // Simulated seconds since 1980 at t.
    uint64_t SecondsAt(TimePoint t) const {
        const uint64_t start = uint64_t{cfg.Days} * 86400 + uint64_t{cfg.Ticks} * TickLength();
        const auto served = std::chrono::duration_cast<std::chrono::seconds>(t - servedFrom);
        return start + static_cast<uint64_t>(std::max<int64_t>(served.count(), 0));
    }

    // Calls that have ended by now leave their records in the buffer, in
    // the order they ended.
    void EndCalls(TimePoint now) {
        // Calls stay in the order they began; the one ending first goes first.
        for (;;) {
            auto first = std::min_element(
                live.begin(), live.end(),
                [](const TLiveCall& a, const TLiveCall& b) { return a.End < b.End; });
            if (first == live.end() || first->End > now) return;
            TLiveCall& c = *first;
            const int tick = TickLength();
            const TClockStamp start = ClockStampAt(SecondsAt(c.Start), tick);
            c.Call.Days = start.Days;
            c.Call.Ticks = start.Ticks;
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(c.End - c.Start);
            c.Call.DurationTicks = static_cast<uint16_t>(
                std::min<int64_t>((ms.count() + 500 * tick) / (1000 * tick), 0xFFFF));
            cfg.Units[static_cast<size_t>(c.Unit)].Records.push_back(EncodeRecord(c.Call));
            live.erase(first);
        }
    }

    void ApplyArrivals(TimePoint now) {
        EndCalls(now);
        for (auto it = arrivals.begin(); it != arrivals.end();) {
            if (it->At <= now) {
                cfg.Units[static_cast<size_t>(it->Unit)].Records.push_back(std::move(it->Payload));
                it = arrivals.erase(it);
            } else {
                ++it;
            }
        }
    }

    // --- outgoing ---------------------------------------------------------

    // Queues a reply that may start at ready. Paced, each byte occupies the
    // line for one byte time and is handed to the terminal when it has fully
    // arrived at the far end.
    void Send(const std::vector<uint8_t>& bytes, TimePoint ready) {
        for (uint8_t b : bytes) {
            if (cfg.Paced) {
                TimePoint start = std::max(ready, txFree);
                txFree = start + kByteTime;
                out.push_back({txFree, b});
            } else {
                out.push_back({ready, b});
            }
        }
    }

    // Writes every queued byte whose time has come, in order.
    void FlushOut(TimePoint now) {
        uint8_t buf[512];
        while (master >= 0 && !out.empty() && out.front().At <= now) {
            size_t n = 0;
            while (n < out.size() && n < sizeof buf && out[n].At <= now) {
                buf[n] = out[n].Byte;
                ++n;
            }
            ssize_t w = write(master, buf, n);
            if (w < 0) {
                if (errno == EINTR) continue;
                writeBlocked = (errno == EAGAIN);
                if (!writeBlocked) out.clear();  // the line is gone; nobody will hear it
                return;
            }
            writeBlocked = static_cast<size_t>(w) < n;
            wireBytes += static_cast<uint64_t>(w);
            out.erase(out.begin(), out.begin() + w);
            if (writeBlocked) return;
        }
    }

    // --- incoming ---------------------------------------------------------

    void OnRead(const uint8_t* data, size_t n, TimePoint now) {
        for (size_t i = 0; i < n && LineUp(); ++i)  // a vanished device hears no more
            Hear(data[i], now);
    }

    // One byte of the program's, handed over at `at`.
    void Hear(uint8_t b, TimePoint at) {
        received.push_back(b);
        ++wireBytes;
        if (silent) return;
        if (cfg.Paced) {
            rxFree = std::max(at, rxFree) + kByteTime;
            pendingRx.emplace_back(rxFree, b);
        } else {
            Feed(b, at);
        }
    }

    void ActOnArrived(TimePoint now) {
        while (!pendingRx.empty() && pendingRx.front().first <= now && LineUp()) {
            auto [at, b] = pendingRx.front();
            pendingRx.pop_front();
            if (!silent) Feed(b, at);
        }
    }

    // The command parser: one byte, arrived at `at`.
    void Feed(uint8_t b, TimePoint at) {
        if (parse != TParse::Idle && at - lastByteAt > kInterByteTimeout) parse = TParse::Idle;
        lastByteAt = at;
        switch (parse) {
            case TParse::Idle:
                break;
            case TParse::Status:
                parse = TParse::Idle;
                if (b == 0x03) {
                    ReplyStatus(at);
                    return;
                }
                break;  // not a status request after all: b is a command of its own
            case TParse::Param:
                param = b;
                parse = TParse::BlockLen;
                return;
            case TParse::BlockLen:
                blockLen = b;
                block.clear();
                parse = blockLen == 0 ? TParse::Sum : TParse::Block;
                return;
            case TParse::Block:
                block.push_back(b);
                if (block.size() == blockLen) parse = TParse::Sum;
                return;
            case TParse::Sum: {
                parse = TParse::Idle;
                uint8_t sum = 0;
                for (uint8_t x : block)
                    sum = static_cast<uint8_t>(sum + x);
                if (command == 0x84)
                    ReplySelect(sum == b, at);
                else if (sum == b)
                    ReplyLineState(at);
                // A line-state request with a broken block is not answered.
                return;
            }
        }
        switch (b) {
            case 0x00:
                ReplyEcho(at);
                break;
            case 0x01:
                ReplyIdentify(at);
                break;
            case 0x02:
                ReplyRecord(true, at);
                break;
            case 0x03:
                ReplyRecord(false, at);
                break;
            case 0x40:
                parse = TParse::Status;
                break;
            case 0x84:
                command = b;
                parse = TParse::BlockLen;
                break;
            case 0xF0:
                command = b;
                parse = TParse::Param;
                break;
            default:
                break;  // unknown bytes are line noise to the exchange
        }
    }

    // --- replies ----------------------------------------------------------

    uint8_t Scramble(uint8_t b) const { return static_cast<uint8_t>(b ^ cfg.Key); }

    // Length, scrambled payload and the sum of the scrambled bytes.
    std::vector<uint8_t> Framed(const std::vector<uint8_t>& payload, bool badSum) const {
        std::vector<uint8_t> f;
        f.push_back(static_cast<uint8_t>(payload.size()));
        uint8_t sum = 0;
        for (uint8_t p : payload) {
            f.push_back(Scramble(p));
            sum = static_cast<uint8_t>(sum + f.back());
        }
        f.push_back(badSum ? static_cast<uint8_t>(sum + 1) : sum);
        return f;
    }

    void ReplyEcho(TimePoint at) {
        ++echoCount;
        auto it = echoScript.find(echoCount);
        if (it == echoScript.end())
            Send({0x00}, at);
        else if (it->second >= 0)
            Send({static_cast<uint8_t>(it->second)}, at);
    }

    void ReplyIdentify(TimePoint at) {
        if (identifySilent) return;
        std::vector<uint8_t> p(16, 0);
        const TClockStamp now = cfg.ClockRuns ? ClockStampAt(SecondsAt(at), TickLength())
                                              : TClockStamp{cfg.Days, cfg.Ticks};
        p[0] = static_cast<uint8_t>(now.Days & 0xFF);
        p[1] = static_cast<uint8_t>(now.Days >> 8);
        p[2] = static_cast<uint8_t>(now.Ticks & 0xFF);
        p[3] = static_cast<uint8_t>(now.Ticks >> 8);
        p[5] = cfg.TypeCode;
        p[6] = cfg.VersionNibbles;
        p[7] = cfg.VersionMain;
        p[13] = cfg.TickByte;
        p[14] = static_cast<uint8_t>(cfg.Serial & 0xFF);
        p[15] = static_cast<uint8_t>(cfg.Serial >> 8);
        p.insert(p.end(), cfg.Name.begin(), cfg.Name.end());
        if (p.size() < 16 + 17) p.resize(16 + 17, 0);  // the name ends at a zero byte
        std::vector<uint8_t> f;
        f.push_back(static_cast<uint8_t>(p.size()));
        for (size_t i = 0; i < p.size(); ++i)
            f.push_back(i == 11 ? cfg.Key : Scramble(p[i]));
        Send(f, at);
    }

    void ReplyStatus(TimePoint at) {
        ApplyArrivals(at);
        const TUnit& u = cfg.Units[static_cast<size_t>(activeUnit)];
        uint16_t c1 = u.Counter1, c2 = u.Counter2;
        if (u.AutoCounters) {
            c2 = kCounterBase;
            c1 = static_cast<uint16_t>(kCounterBase + u.Records.size());
        }
        std::vector<uint8_t> p;
        PutLe(p, u.Capacity);
        PutLe(p, c1);
        PutLe(p, c2);
        bool bad = statusChecksumErrors > 0;
        if (bad) --statusChecksumErrors;
        Send(Framed(p, bad), at + cfg.StatusDelay);
    }

    void ReplySelect(bool sumOk, TimePoint at) {
        ++selectCount;
        bool ok = false;
        if (sumOk && !block.empty()) {
            int u = Scramble(block[0]);
            if (static_cast<size_t>(u) < cfg.Units.size() &&
                !cfg.Units[static_cast<size_t>(u)].RefuseSelect) {
                activeUnit = u;
                ok = true;
            }
        }
        Send({0x84, static_cast<uint8_t>(ok ? 0x00 : 0x01)}, at);
    }

    void ReplyLineState(TimePoint at) {
        if (cfg.LineStateFault == TLineStateFault::NoReply) return;
        EndCalls(at);
        std::vector<uint8_t> p = cfg.LineState;
        if (p.empty()) {
            for (const TLiveCall& c : live)
                if (c.Start <= at) p.insert(p.end(), c.Group.begin(), c.Group.end());
            if (!p.empty()) p.push_back(0x00);
        }
        if (p.size() > 255) p.resize(255);
        Send(Framed(p, cfg.LineStateFault == TLineStateFault::BadChecksum), at);
    }

    // First (02) or next (03) record of the active unit. The record that 03
    // finds delivered is the one the program has taken: it is dropped.
    void ReplyRecord(bool first, TimePoint at) {
        ApplyArrivals(at);
        const size_t ui = static_cast<size_t>(activeUnit);
        TUnit& unit = cfg.Units[ui];
        if (!first && delivered[ui] && !unit.Records.empty()) unit.Records.pop_front();
        delivered[ui] = false;
        std::vector<uint8_t> payload{0x00};  // an empty buffer's one-byte reply
        if (!unit.Records.empty()) {
            payload = unit.Records.front();
            delivered[ui] = true;  // even if the reply is lost below: the exchange cannot know
        }

        ++recordReplies;
        const TimePoint when = inMemory ? at : Clock::now();
        TReplyFault fault = TReplyFault::None;
        std::chrono::milliseconds comeBack{0};
        for (auto it = armed.begin(); it != armed.end();) {
            if (it->At != recordReplies) {
                ++it;
                continue;
            }
            // The name moving does not touch the reply, so it combines with
            // one fault that does; a second such fault on the reply is lost.
            if (it->Fault == TReplyFault::HideLink) {
                MoveLink(it->Decoy.empty() ? TLinkState::Hidden : TLinkState::Elsewhere, it->Decoy,
                         it->ComeBack, when);
            } else if (fault == TReplyFault::None) {
                fault = it->Fault;
                comeBack = it->ComeBack;
            }
            it = armed.erase(it);
        }

        std::vector<uint8_t> f =
            Framed(payload, fault == TReplyFault::BadChecksum || (first && firstRecordBad));
        switch (fault) {
            case TReplyFault::Vanish:
                DoVanish();
                if (comeBack.count() > 0) {
                    comeBackPending = true;
                    comeBackAt = when + comeBack;
                }
                return;
            case TReplyFault::Lost:
                return;
            case TReplyFault::FlippedByte:
                f[1 + payload.size() / 2] ^= kFlipMask;
                break;
            case TReplyFault::SilenceAfterLength:
                f.resize(1);
                break;
            case TReplyFault::CutShort:
                f.resize(1 + payload.size() / 2);
                break;
            default:
                break;
        }
        Send(f, at);
    }

    // --- serving thread ---------------------------------------------------

    void Serve() {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        pthread_setname_np(pthread_self(), "sim_exchange");
        std::unique_lock<std::mutex> lock(mu);
        while (!stopRequested) {
            TimePoint now = Clock::now();
            ApplyArrivals(now);
            if (comeBackPending && now >= comeBackAt) {
                comeBackPending = false;
                if (vanished && !Revive()) std::fprintf(stderr, "%s\n", lastError.c_str());
            }
            LinkBackBy(now);
            ActOnArrived(now);
            FlushOut(now);

            TimePoint next = TimePoint::max();
            if (!pendingRx.empty()) next = std::min(next, pendingRx.front().first);
            if (!out.empty() && !writeBlocked && master >= 0) next = std::min(next, out.front().At);
            for (const TArrival& a : arrivals)
                next = std::min(next, a.At);
            for (const TLiveCall& c : live)
                next = std::min(next, c.End);
            if (comeBackPending) next = std::min(next, comeBackAt);
            if (linkBackPending) next = std::min(next, linkBackAt);

            const int fd = master;
            const uint64_t gen = generation;
            const bool wantOut = writeBlocked;
            lock.unlock();

            now = Clock::now();
            if (next != TimePoint::max() && next - now < kSpinWindow) {
                SleepUntil(next);
                lock.lock();
                continue;
            }
            pollfd fds[2] = {{wakeFd, POLLIN, 0},
                             {fd, static_cast<short>(POLLIN | (wantOut ? POLLOUT : 0)), 0}};
            timespec ts{};
            timespec* timeout = nullptr;
            if (next != TimePoint::max()) {
                auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(next - now -
                                                                               kSpinWindow / 2)
                              .count();
                ts.tv_sec = static_cast<time_t>(ns / 1000000000);
                ts.tv_nsec = static_cast<long>(ns % 1000000000);
                timeout = &ts;
            }
            int r = ppoll(fds, fd >= 0 ? 2 : 1, timeout, nullptr);
            TimePoint readAt = Clock::now();
            lock.lock();
            if (r <= 0) continue;
            if (fds[0].revents & POLLIN) {
                uint64_t v;
                ssize_t n = read(wakeFd, &v, sizeof v);
                (void)n;
            }
            if (fd < 0 || gen != generation) continue;  // the terminal changed meanwhile
            if (fds[1].revents & POLLOUT) writeBlocked = false;
            if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
                uint8_t buf[512];
                ssize_t n = read(master, buf, sizeof buf);
                if (n > 0) {
                    OnRead(buf, static_cast<size_t>(n), readAt);
                } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                    // Cannot happen while we hold the slave; never spin on it.
                    lock.unlock();
                    SleepUntil(Clock::now() + std::chrono::milliseconds(10));
                    lock.lock();
                }
            }
        }
    }
};

TSimExchange::TSimExchange(TExchangeConfig config) : impl_(std::make_unique<Impl>()) {
    impl_->cfg = std::move(config);
}

TSimExchange::~TSimExchange() {
    Stop();
}

bool TSimExchange::Start(const std::string& linkPath) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.CanStart()) return false;
    d.inMemory = false;
    d.linkPath = linkPath;
    d.linkState = TLinkState::Shown;
    d.linkBackPending = false;
    d.wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d.wakeFd < 0) return d.Fail(Errno("eventfd"));
    if (!d.OpenTerminal()) {
        close(d.wakeFd);
        d.wakeFd = -1;
        return false;
    }
    d.delivered.assign(d.cfg.Units.size(), false);
    d.activeUnit = 0;
    d.wireBytes = 0;
    d.servedFrom = Clock::now();
    d.stopRequested = false;
    d.comeBackPending = false;
    d.serving = true;
    d.thread = std::thread([this] { impl_->Serve(); });
    return true;
}

bool TSimExchange::StartInMemory(std::chrono::steady_clock::time_point start) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.CanStart()) return false;
    d.inMemory = true;
    d.linkPath.clear();
    d.slavePath.clear();
    d.memNow = start;
    d.servedFrom = start;
    d.vanished = false;
    d.linkState = TLinkState::Shown;
    d.linkBackPending = false;
    d.ResetLine();
    d.delivered.assign(d.cfg.Units.size(), false);
    d.activeUnit = 0;
    d.wireBytes = 0;
    d.comeBackPending = false;
    d.serving = true;
    return true;
}

void TSimExchange::Stop() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        if (!impl_->serving) return;
        impl_->stopRequested = true;
        impl_->Wake();
        t = std::move(impl_->thread);
    }
    if (t.joinable()) t.join();  // in memory there is no thread
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->CloseTerminal();
    impl_->RemoveLink();  // a decoy too
    impl_->linkState = TLinkState::Shown;
    impl_->linkBackPending = false;
    impl_->vanished = false;
    impl_->comeBackPending = false;
    if (impl_->wakeFd >= 0) close(impl_->wakeFd);
    impl_->wakeFd = -1;
    impl_->serving = false;
    impl_->inMemory = false;
}

void TSimExchange::ReceiveFromProgram(uint8_t b, std::chrono::steady_clock::time_point at) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.inMemory) return;
    d.Advance(at);
    if (d.LineUp()) d.Hear(b, d.memNow);
}

int TSimExchange::TakeForProgram(std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.inMemory) return -1;
    d.Advance(now);
    if (!d.LineUp() || d.out.empty() || d.out.front().At > d.memNow) return -1;
    const uint8_t b = d.out.front().Byte;
    d.out.pop_front();
    ++d.wireBytes;
    return b;
}

std::chrono::steady_clock::time_point TSimExchange::NextForProgram(
    std::chrono::steady_clock::time_point now) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.inMemory) return TimePoint::max();
    d.Advance(now);
    // A byte on its way from the program may answer sooner than anything
    // queued; nothing else makes a reply.
    while (d.LineUp() && !d.pendingRx.empty() &&
           (d.out.empty() || d.pendingRx.front().first < d.out.front().At))
        d.ActOnArrived(d.pendingRx.front().first);
    return !d.LineUp() || d.out.empty() ? TimePoint::max() : d.out.front().At;
}

void TSimExchange::PurgeForProgram(std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.inMemory) return;
    d.Advance(now);
    while (!d.out.empty() && d.out.front().At <= d.memNow) {
        d.out.pop_front();
        ++d.wireBytes;  // it did cross the line before being thrown away
    }
}

bool TSimExchange::Serving() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->serving;
}

bool TSimExchange::Gone() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->vanished;
}

std::string TSimExchange::LastError() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->lastError;
}

std::string TSimExchange::SlavePath() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->slavePath;
}

void TSimExchange::AddRecord(int unit, std::vector<uint8_t> payload) {
    Impl::CheckPayload(payload);
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->CheckUnit(unit);
    impl_->cfg.Units[static_cast<size_t>(unit)].Records.push_back(std::move(payload));
}

size_t TSimExchange::RecordCount(int unit) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->CheckUnit(unit);
    impl_->Current();
    return impl_->cfg.Units[static_cast<size_t>(unit)].Records.size();
}

std::vector<std::vector<uint8_t>> TSimExchange::Records(int unit) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->CheckUnit(unit);
    impl_->Current();
    const auto& r = impl_->cfg.Units[static_cast<size_t>(unit)].Records;
    return {r.begin(), r.end()};
}

void TSimExchange::ScheduleArrivals(
    int unit, std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> arrivals) {
    for (const auto& a : arrivals)
        Impl::CheckPayload(a.second);
    std::lock_guard<std::mutex> lock(impl_->mu);
    const TimePoint now = impl_->Now();
    impl_->CheckUnit(unit);
    for (auto& a : arrivals)
        impl_->arrivals.push_back({now + a.first, unit, std::move(a.second)});
    impl_->Wake();
}

TClockStamp ClockStampAt(uint64_t secondsSince1980, int tickLength) {
    return {static_cast<uint16_t>(secondsSince1980 / 86400),
            static_cast<uint16_t>(std::min<uint64_t>(
                secondsSince1980 % 86400 / static_cast<uint64_t>(tickLength), 0xFFFF))};
}

uint8_t LineStateTrunkByte(uint8_t typeCode, uint8_t b) {
    // Records of the QTV and QS16 families count their trunks from 1, the
    // line state from 0; the other families count both alike.
    switch (typeCode) {
        case 4:
        case 6:
        case 7:
        case 8:
            return static_cast<uint8_t>(b - 1);
        default:
            return b;
    }
}

void TSimExchange::BeginCall(int unit, TSimCall call, std::chrono::milliseconds duration,
                             uint16_t partnerLine) {
    if (call.HwLine < 1 || call.HwLine > 256 || partnerLine > 256)
        throw std::invalid_argument("a call in progress is on lines 1 to 256");
    static_cast<void>(EncodeRecord(call));  // digits that cannot be packed throw here
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    d.CheckUnit(unit);
    const TimePoint now = d.Now();
    std::vector<uint8_t> group{0x02, 0x44, static_cast<uint8_t>(call.HwLine - 1), 0x00};
    if (partnerLine != 0)
        group.insert(group.end(), {0x44, static_cast<uint8_t>(partnerLine - 1), 0x01});
    else
        group.insert(group.end(), {0x46, LineStateTrunkByte(d.cfg.TypeCode, call.TrunkCode), 0x01});
    d.live.push_back({now, now + duration, unit, std::move(call), std::move(group)});
    d.Wake();
}

size_t TSimExchange::CallsInProgress() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->Current();
    return impl_->live.size();
}

uint64_t TSimExchange::ClockSeconds() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->SecondsAt(impl_->Now());
}

void TSimExchange::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->silent = silent;
}

void TSimExchange::ScriptEchoes(std::map<int, int> replies) {
    for (const auto& [n, v] : replies)
        if (n < 1 || v < -1 || v > 255)
            throw std::invalid_argument(
                "echo script: echo numbers start at 1, replies are -1..255");
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->echoScript = std::move(replies);
    impl_->echoCount = 0;
}

void TSimExchange::SetStatusChecksumErrors(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->statusChecksumErrors = std::max(n, 0);
}

void TSimExchange::SetIdentifySilent(bool silent) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->identifySilent = silent;
}

void TSimExchange::ArmRecordFault(TReplyFault fault, int nth, std::chrono::milliseconds comeBack,
                                  const std::string& decoy) {
    if (nth < 1) throw std::invalid_argument("record fault: nth counts from 1");
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (fault == TReplyFault::None) {
        impl_->armed.clear();  // None disarms
        return;
    }
    impl_->armed.push_back(
        {impl_->recordReplies + static_cast<uint64_t>(nth), fault, comeBack, decoy});
}

void TSimExchange::SetFirstRecordBadChecksum(bool bad) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->firstRecordBad = bad;
}

void TSimExchange::Vanish() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving || impl_->vanished) return;
    impl_->comeBackPending = false;
    impl_->DoVanish();
}

void TSimExchange::Reappear() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving || !impl_->vanished) return;
    impl_->comeBackPending = false;
    if (!impl_->Revive()) std::fprintf(stderr, "%s\n", impl_->lastError.c_str());
    impl_->Wake();
}

void TSimExchange::HideLink(std::chrono::milliseconds back) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving) return;
    impl_->MoveLink(TLinkState::Hidden, "", back, impl_->Now());
}

void TSimExchange::RelinkTo(const std::string& decoy, std::chrono::milliseconds back) {
    if (decoy.empty()) throw std::invalid_argument("relink: the decoy path is empty");
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving) return;
    impl_->MoveLink(TLinkState::Elsewhere, decoy, back, impl_->Now());
}

void TSimExchange::RestoreLink() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving) return;
    impl_->MoveLink(TLinkState::Shown, "", std::chrono::milliseconds(0), impl_->Now());
}

TLinkState TSimExchange::LinkState() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->Current();
    return impl_->linkState;
}

std::vector<uint8_t> TSimExchange::Received() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->received;
}

void TSimExchange::ClearReceived() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->received.clear();
}

uint64_t TSimExchange::WireBytes() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->wireBytes;
}

void TSimExchange::ResetWireBytes() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->wireBytes = 0;
}

int TSimExchange::SelectCount() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->selectCount;
}

int TSimExchange::ActiveUnit() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->activeUnit;
}

TExchangeConfig& TSimExchange::Config() {
    return impl_->cfg;
}

}  // namespace sim
