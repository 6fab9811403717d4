// The simulated exchange over a real pseudo-terminal, byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <ostream>

#include "tests/tools/line.h"
#include "tools/sim_exchange/sim_exchange.h"

namespace {

using namespace simtest;
using Bytes = std::vector<uint8_t>;
constexpr uint8_t kKey = 0x5A;

// The first-record and next-record commands.
const Bytes kFirst{0x02};
const Bytes kNext{0x03};

Bytes Scrambled(const Bytes& payload) {
    Bytes s;
    for (uint8_t b : payload)
        s.push_back(static_cast<uint8_t>(b ^ kKey));
    return s;
}

// A framed reply as it must appear on the line: length, scrambled payload,
// sum of the scrambled bytes.
Bytes Framed(const Bytes& payload) {
    Bytes f{static_cast<uint8_t>(payload.size())};
    Bytes s = Scrambled(payload);
    f.insert(f.end(), s.begin(), s.end());
    f.push_back(Sum(s, 0, s.size()));
    return f;
}

Bytes SelectCommand(int unit) {
    uint8_t x = static_cast<uint8_t>(unit ^ kKey);
    return {0x84, 0x01, x, x};
}

class SimExchange : public ::testing::Test {
  protected:
    // Starts an exchange with the given units and opens the line to it.
    void Serve(sim::TExchangeConfig cfg = {}) {
        cfg.Key = kKey;
        ex_ = std::make_unique<sim::TSimExchange>(cfg);
        ASSERT_TRUE(ex_->Start()) << ex_->LastError();
        line_ = std::make_unique<TLine>(ex_->SlavePath());
        ASSERT_TRUE(line_->IsOpen());
    }
    // The reply to cmd, expecting n bytes.
    Bytes Ask(const Bytes& cmd, size_t n) {
        line_->Write(cmd);
        return line_->Read(n);
    }
    // True when nothing but the echo reply follows: proves that an earlier
    // request was not answered, without waiting for an absence.
    bool OnlyEchoFollows() {
        line_->Write({0x00});
        return line_->Read(1) == Bytes{0x00};
    }

    std::unique_ptr<sim::TSimExchange> ex_;
    std::unique_ptr<TLine> line_;
};

Bytes Rec(uint8_t tag, size_t size = 13) {
    Bytes r(size, tag);
    r[0] = 0x86;
    r[1] = 0x26;
    return r;
}

TEST_F(SimExchange, EchoesAndScriptedEchoFaults) {
    Serve();
    EXPECT_EQ(Ask({0x00}, 1), Bytes{0x00});
    ex_->ScriptEchoes({{2, 0x55}, {3, -1}});
    line_->Write({0x00, 0x00, 0x00, 0x00});
    EXPECT_EQ(line_->Read(3), (Bytes{0x00, 0x55, 0x00}));  // the third said nothing
    EXPECT_TRUE(OnlyEchoFollows());
    EXPECT_EQ(ex_->Received(), Bytes(6, 0x00));
    EXPECT_THROW(ex_->ScriptEchoes({{0, 1}}), std::invalid_argument);
}

TEST_F(SimExchange, StatusChecksumCoversTheScrambledBytes) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Capacity = 0x0150;
    cfg.Units[0].Records = {Rec(1), Rec(2), Rec(3)};
    Serve(cfg);
    const auto sent = Clock::now();
    Bytes r = Ask({0x40, 0x03}, 8);
    // Never sooner than the program can listen after purging its input.
    EXPECT_GE(Clock::now() - sent, cfg.StatusDelay);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], 6);
    EXPECT_EQ(r[7], Sum(r, 1, 6));
    Bytes p = Scrambled(Bytes(r.begin() + 1, r.begin() + 7));
    EXPECT_EQ(p[0] | p[1] << 8, 0x150);
    EXPECT_EQ((p[2] | p[3] << 8) - (p[4] | p[5] << 8), 3);  // records held
}

// A talk with the exchange over the terminal, one step after another: each
// request gets its whole reply and nothing more (the echo asked behind it
// comes next); an empty reply is none at all, a spoilt one is the reply
// with anything but the right sum. Held: the records each unit holds
// afterwards (empty: not looked at). A step without a request only does
// something to the exchange.
struct TStep {
    Bytes Request;
    Bytes Reply;
    std::vector<size_t> Held = {};
    bool BadSum = false;
    std::function<void(sim::TSimExchange&)> Action = nullptr;
};

TStep Spoilt(Bytes request, Bytes reply) {
    return {std::move(request), std::move(reply), {}, true};
}

TStep Do(std::function<void(sim::TSimExchange&)> action) {
    return {{}, {}, {}, false, std::move(action)};
}

std::function<void(sim::TSimExchange&)> Arm(sim::TReplyFault fault, int nth = 1) {
    return [=](sim::TSimExchange& ex) { ex.ArmRecordFault(fault, nth); };
}

// The identification reply to payload: everything scrambled but byte 11,
// the key itself, and no sum.
Bytes IdentifyReply(const Bytes& payload) {
    Bytes f{static_cast<uint8_t>(payload.size())};
    for (size_t i = 0; i < payload.size(); ++i)
        f.push_back(i == 11 ? payload[i] : static_cast<uint8_t>(payload[i] ^ kKey));
    return f;
}

Bytes Text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct TTalk {
    const char* Name;
    std::function<void(sim::TExchangeConfig&)> Setup;
    std::vector<TStep> Steps;
    int ActiveUnit;  // afterwards
};

void PrintTo(const TTalk& talk, std::ostream* os) {
    *os << talk.Name;
}

std::vector<TTalk> Talks() {
    const uint8_t ff = 0xFF ^ kKey;
    const uint8_t unit0 = 0 ^ kKey;
    const Bytes lineState{0x02, 0x44, 0x05, 0x00, 0x46, 0x02, 0x01, 0x00};
    const Bytes good = Framed(Rec(1));
    return {
        {"IdentifyScramblesAllButTheKey",
         [](sim::TExchangeConfig& c) {
             c.TypeCode = 7;
             c.Name = "ZAVOD";
             c.Serial = 0x1234;
             c.TickByte = 10;
             c.Days = 0x2686;
             c.Ticks = 0x0102;
         },
         // 16 fixed bytes and a 17-byte name field.
         {{{0x01},
           IdentifyReply(
               Bytes{0x86, 0x26, 0x02, 0x01, 0, 7, 0x15, 3, 0, 0, 0, kKey, 0, 10, 0x34, 0x12} +
               Text("ZAVOD") + Bytes(12, 0x00))}},
         0},
        {"IdentifySendsALongNameWholeAndCanBeSilenced",
         [](sim::TExchangeConfig& c) { c.Name = "ABCDEFGHIJKLMNOPQRST"; },
         {{{0x01},
           IdentifyReply(Bytes{0x86, 0x26, 0, 0, 0, 4, 0x15, 3, 0, 0, 0, kKey, 0, 1, 0xE1, 0x10} +
                         Text("ABCDEFGHIJKLMNOPQRST"))},
          Do([](sim::TSimExchange& ex) { ex.SetIdentifySilent(true); }),
          {{0x01}, {}}},
         0},
        {"StatusChecksumErrorsHitOnlyTheNextReplies",
         [](sim::TExchangeConfig& c) {
             c.Units[0].AutoCounters = false;
             c.Units[0].Counter1 = 7;
             c.Units[0].Counter2 = 5;
         },
         {Do([](sim::TSimExchange& ex) { ex.SetStatusChecksumErrors(2); }),
          Spoilt({0x40, 0x03}, Framed({0xF4, 0x01, 7, 0, 5, 0})),
          Spoilt({0x40, 0x03}, Framed({0xF4, 0x01, 7, 0, 5, 0})),
          {{0x40, 0x03}, Framed({0xF4, 0x01, 7, 0, 5, 0})}},
         0},
        {"StatusPrefixFollowedByAnotherCommandIsThatCommand",
         [](sim::TExchangeConfig&) {},
         {{{0x40, 0x00}, {0x00}}},
         0},
        {"SelectUnitAcceptsAndRefuses",
         [](sim::TExchangeConfig& c) {
             c.Units.resize(3);
             c.Units[2].RefuseSelect = true;
         },
         {{SelectCommand(1), {0x84, 0x00}},
          {SelectCommand(2), {0x84, 0x01}},  // refused by the unit
          {SelectCommand(3), {0x84, 0x01}},  // no such unit
          {{0x84, 0x01, unit0, static_cast<uint8_t>(unit0 + 1)}, {0x84, 0x01}}},  // bad sum
         1},
        {"FirstRecordKeepsNextRecordDrops",
         [](sim::TExchangeConfig& c) {
             c.Units[0].Records = {Rec(1), Rec(2, 11)};
         },
         {{kFirst, Framed(Rec(1))},
          {kFirst, Framed(Rec(1)), {2}},  // still there
          {kNext, Framed(Rec(2, 11)), {1}},
          {kNext, Framed({0x00}), {0}},  // end of the buffer
          {kFirst, Framed({0x00})}},
         0},
        {"NextRecordWithNothingDeliveredDropsNothing",
         [](sim::TExchangeConfig& c) {
             c.Units[0].Records = {Rec(1), Rec(2)};
         },
         {{kNext, Framed(Rec(1)), {2}}},
         0},
        {"EachUnitHasItsOwnBuffer",
         [](sim::TExchangeConfig& c) {
             c.Units.resize(2);
             c.Units[0].Records = {Rec(1)};
             c.Units[1].Records = {Rec(5), Rec(6)};
             c.Units[1].Capacity = 77;
             c.Units[1].AutoCounters = false;
         },
         {{kFirst, Framed(Rec(1))},
          {SelectCommand(1), {0x84, 0x00}},
          {kFirst, Framed(Rec(5))},
          {{0x40, 0x03}, Framed({77, 0, 0, 0, 0, 0})},
          {kNext, Framed(Rec(6)), {1, 1}}},  // unit 0 untouched
         1},
        {"RecordFaults",
         [](sim::TExchangeConfig& c) {
             c.Units[0].Records = {Rec(1), Rec(2), Rec(3), Rec(4)};
         },
         {Do(Arm(sim::TReplyFault::BadChecksum)),
          Spoilt(kFirst, good),
          Do(Arm(sim::TReplyFault::SilenceAfterLength)),
          {kFirst, {13}},
          // The first reply after arming is whole, the second cut after
          // half its payload.
          Do(Arm(sim::TReplyFault::CutShort, 2)),
          {kFirst, good},
          {kFirst, Bytes(good.begin(), good.begin() + 1 + 6)},
          Do([](sim::TSimExchange& ex) { ex.SetFirstRecordBadChecksum(true); }),
          Spoilt(kFirst, good),
          Do([](sim::TSimExchange& ex) { ex.SetFirstRecordBadChecksum(false); }),
          {kFirst, good},
          // A reply lost to a fault was still delivered: the next 03 drops
          // it (record 1 dropped, record 2 lost on the line).
          Do(Arm(sim::TReplyFault::SilenceAfterLength)),
          {kNext, {13}},
          {kNext, Framed(Rec(3)), {2}}},
         0},
        {"LineStateReply",
         [=](sim::TExchangeConfig& c) { c.LineState = lineState; },
         {{{0xF0, 0x01, 0x01, ff, ff}, Framed(lineState)},
          {{0xF0, 0x01, 0x01, ff, 0x00}, {}}},  // broken block sum: not answered
         0},
    };
}

class SimExchangeTalk : public SimExchange, public ::testing::WithParamInterface<TTalk> {};

TEST_P(SimExchangeTalk, RepliesAndBuffers) {
    const TTalk& talk = GetParam();
    sim::TExchangeConfig cfg;
    talk.Setup(cfg);
    Serve(cfg);
    int selects = 0;
    for (size_t i = 0; i < talk.Steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        const TStep& step = talk.Steps[i];
        if (step.Action) step.Action(*ex_);
        if (step.Request.empty()) continue;
        selects += step.Request[0] == 0x84;
        const Bytes r = Ask(step.Request, step.Reply.size());
        if (step.BadSum) {
            ASSERT_EQ(r.size(), step.Reply.size());
            EXPECT_EQ(Bytes(r.begin(), r.end() - 1),
                      Bytes(step.Reply.begin(), step.Reply.end() - 1));
            EXPECT_NE(r.back(), step.Reply.back());
        } else {
            EXPECT_EQ(r, step.Reply);
        }
        EXPECT_TRUE(OnlyEchoFollows());
        for (size_t u = 0; u < step.Held.size(); ++u)
            EXPECT_EQ(ex_->RecordCount(static_cast<int>(u)), step.Held[u]) << "unit " << u;
    }
    EXPECT_EQ(ex_->ActiveUnit(), talk.ActiveUnit);
    EXPECT_EQ(ex_->SelectCount(), selects);
}

INSTANTIATE_TEST_SUITE_P(Steps, SimExchangeTalk, ::testing::ValuesIn(Talks()),
                         [](const ::testing::TestParamInfo<TTalk>& info) {
                             return std::string(info.param.Name);
                         });

TEST_F(SimExchange, ArrivalsJoinTheBuffer) {
    Serve();
    ex_->ScheduleArrivals(0, {{10ms, Rec(8)}, {20ms, Rec(9)}});
    ASSERT_TRUE(WaitFor([&] { return ex_->RecordCount(0) == 2; }));
    EXPECT_EQ(Ask(kFirst, 15), Framed(Rec(8)));
    EXPECT_EQ(Ask(kNext, 15), Framed(Rec(9)));
    EXPECT_THROW(ex_->ScheduleArrivals(4, {{1ms, Rec(1)}}), std::out_of_range);
    EXPECT_THROW(ex_->AddRecord(0, {}), std::invalid_argument);
}

TEST_F(SimExchange, SilentAnswersNothing) {
    Serve();
    ex_->SetSilent(true);
    line_->Write({0x00, 0x01});
    EXPECT_TRUE(line_->Read(1, 300ms).empty());
    ex_->SetSilent(false);
    EXPECT_EQ(Ask({0x00}, 1), Bytes{0x00});
}

TEST_F(SimExchange, ClosingTheProgramsEndDoesNotDisturbTheLine) {
    Serve();
    line_.reset();
    line_ = std::make_unique<TLine>(ex_->SlavePath());
    EXPECT_EQ(Ask({0x00}, 1), Bytes{0x00});
}

class SimExchangeLink : public SimExchange {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/simlinkXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        link_ = dir_ + "/COM1";
    }
    void TearDown() override {
        line_.reset();
        if (ex_) ex_->Stop();
        std::filesystem::remove_all(dir_);
    }
    std::string Target() const {
        std::error_code ec;
        auto t = std::filesystem::read_symlink(link_, ec);
        return ec ? std::string() : t.string();
    }
    std::string dir_, link_;
};

TEST_F(SimExchangeLink, LinkReplacesAnOldLinkButNotAFile) {
    std::filesystem::create_symlink("/dev/null", link_);
    ex_ = std::make_unique<sim::TSimExchange>();
    ASSERT_TRUE(ex_->Start(link_)) << ex_->LastError();
    EXPECT_EQ(Target(), ex_->SlavePath());
    EXPECT_FALSE(ex_->Start(link_));  // already serving
    ex_->Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link_)));

    std::fclose(std::fopen(link_.c_str(), "w"));
    EXPECT_FALSE(ex_->Start(link_));
    EXPECT_NE(ex_->LastError().find("not a symbolic link"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_regular_file(link_));
}

TEST_F(SimExchangeLink, VanishHangsUpAndReappearServesAgain) {
    ex_ = std::make_unique<sim::TSimExchange>();
    ASSERT_TRUE(ex_->Start(link_));
    line_ = std::make_unique<TLine>(link_);
    EXPECT_EQ(Ask({0x00}, 1), Bytes{0x00});
    ex_->Vanish();
    EXPECT_TRUE(line_->SeesHangup());
    EXPECT_TRUE(Target().empty());
    ex_->Reappear();
    ASSERT_FALSE(Target().empty());
    EXPECT_EQ(Target(), ex_->SlavePath());
    line_ = std::make_unique<TLine>(link_);
    EXPECT_EQ(Ask({0x00}, 1), Bytes{0x00});
}

TEST_F(SimExchangeLink, VanishInsteadOfARecordAndComeBack) {
    sim::TExchangeConfig cfg;
    cfg.Key = kKey;
    cfg.Units[0].Records = {Rec(1), Rec(2)};
    ex_ = std::make_unique<sim::TSimExchange>(cfg);
    ASSERT_TRUE(ex_->Start(link_));
    const std::string before = ex_->SlavePath();
    line_ = std::make_unique<TLine>(link_);
    ex_->ArmRecordFault(sim::TReplyFault::Vanish, 1, 50ms);
    line_->Write(kFirst);
    EXPECT_TRUE(line_->SeesHangup());
    ASSERT_TRUE(WaitFor([&] { return !Target().empty(); }));
    line_ = std::make_unique<TLine>(link_);
    ASSERT_TRUE(line_->IsOpen());
    EXPECT_EQ(Ask(kFirst, 15), Framed(Rec(1)));  // nothing was lost
    EXPECT_EQ(ex_->RecordCount(0), 2u);
}

TEST_F(SimExchangeLink, AHiddenNameLeavesTheTerminalServingAndOutlivesAComeBack) {
    ex_ = std::make_unique<sim::TSimExchange>();
    ASSERT_TRUE(ex_->Start(link_));
    line_ = std::make_unique<TLine>(link_);
    ex_->HideLink();
    EXPECT_EQ(Target(), "");
    EXPECT_EQ(Ask({0x00}, 1), Bytes{0x00});
    ex_->Vanish();
    ex_->Reappear();
    EXPECT_EQ(Target(), "");
    ex_->RestoreLink();
    EXPECT_EQ(Target(), ex_->SlavePath());
}

TEST_F(SimExchange, PacedRepliesTakeAtLeastTheWireTime) {
    sim::TExchangeConfig cfg;
    cfg.Paced = true;
    Serve(cfg);
    ex_->ResetWireBytes();
    const auto start = Clock::now();
    Bytes r = Ask({0x01}, 34);
    const auto elapsed = Clock::now() - start;
    ASSERT_EQ(r.size(), 34u);
    EXPECT_EQ(ex_->WireBytes(), 35u);
    EXPECT_GE(elapsed, 35 * sim::kByteTime);

    const auto echoes = Clock::now();
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(Ask({0x00}, 1), Bytes{0x00});
    EXPECT_GE(Clock::now() - echoes, 10 * sim::kByteTime);
    EXPECT_EQ(ex_->WireBytes(), 45u);
}

// In memory the caller carries the bytes and says what time it is.
class InMemory : public ::testing::Test {
  protected:
    void Serve(sim::TExchangeConfig cfg = {}) {
        cfg.Key = kKey;
        ex_ = std::make_unique<sim::TSimExchange>(cfg);
        ASSERT_TRUE(ex_->StartInMemory(t0_)) << ex_->LastError();
    }
    void Send(const Bytes& bytes, Clock::time_point at) {
        for (uint8_t b : bytes)
            ex_->ReceiveFromProgram(b, at);
    }
    // Every byte available by now.
    Bytes Take(Clock::time_point now) {
        Bytes got;
        for (int b; (b = ex_->TakeForProgram(now)) >= 0;)
            got.push_back(static_cast<uint8_t>(b));
        return got;
    }

    const Clock::time_point t0_ = Clock::time_point{} + 1h;
    std::unique_ptr<sim::TSimExchange> ex_;
};

TEST_F(InMemory, AnEchoIsAnsweredAtOnce) {
    Serve();
    Send({0x00}, t0_);
    EXPECT_EQ(ex_->NextForProgram(t0_), t0_);
    EXPECT_EQ(Take(t0_), Bytes{0x00});
    EXPECT_EQ(ex_->NextForProgram(t0_), Clock::time_point::max());
    EXPECT_EQ(ex_->Received(), Bytes{0x00});
    EXPECT_EQ(ex_->WireBytes(), 2u);
    EXPECT_TRUE(ex_->SlavePath().empty());
}

TEST_F(InMemory, AStatusReplyIsThereOnlyAfterTheStatusDelayAndAPurgeDropsWhatWas) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Records = {Rec(1)};
    Serve(cfg);
    Send({0x00, 0x40, 0x03}, t0_);
    EXPECT_EQ(ex_->NextForProgram(t0_), t0_);
    ex_->PurgeForProgram(t0_);  // the echo goes, the status reply is not there yet
    EXPECT_EQ(ex_->NextForProgram(t0_), t0_ + 15ms);
    EXPECT_TRUE(Take(t0_ + 14ms).empty());
    const Bytes r = Take(t0_ + 15ms);
    ASSERT_EQ(r.size(), 8u);
    EXPECT_EQ(r[0], 6);
    ex_->PurgeForProgram(t0_ + 1s);  // nothing left to drop
    EXPECT_EQ(ex_->WireBytes(), 3u + 1u + 8u);
}

TEST_F(InMemory, PacedTheReplyToAByteStillOnItsWayIsForeseen) {
    sim::TExchangeConfig cfg;
    cfg.Paced = true;
    Serve(cfg);
    Send({0x00}, t0_);
    // One byte time to arrive, one for the answer to come back.
    const auto due = t0_ + 2 * sim::kByteTime;
    EXPECT_EQ(ex_->NextForProgram(t0_), due);
    EXPECT_TRUE(Take(due - 1ns).empty());
    EXPECT_EQ(Take(due), Bytes{0x00});
}

TEST_F(InMemory, ArrivalsAndAComeBackFollowTheTimesPassedIn) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Records = {Rec(1)};
    Serve(cfg);
    ex_->ScheduleArrivals(0, {{10ms, Rec(2)}});
    EXPECT_TRUE(Take(t0_ + 9ms).empty());
    EXPECT_EQ(ex_->RecordCount(0), 1u);
    EXPECT_TRUE(Take(t0_ + 10ms).empty());
    EXPECT_EQ(ex_->RecordCount(0), 2u);

    ex_->ArmRecordFault(sim::TReplyFault::Vanish, 1, 50ms);
    Send(kFirst, t0_ + 20ms);
    EXPECT_TRUE(ex_->Gone());
    Send({0x00}, t0_ + 30ms);  // unheard
    EXPECT_EQ(ex_->NextForProgram(t0_ + 69ms), Clock::time_point::max());
    EXPECT_TRUE(ex_->Gone());
    Send(kFirst, t0_ + 70ms);
    EXPECT_FALSE(ex_->Gone());
    EXPECT_EQ(Take(t0_ + 70ms), Framed(Rec(1)));
    EXPECT_EQ(ex_->Received(), (Bytes{0x02, 0x02}));

    ex_->Vanish();
    EXPECT_EQ(ex_->TakeForProgram(t0_ + 1s), -1);
    ex_->Reappear();
    Send({0x00}, t0_ + 1s);
    EXPECT_EQ(Take(t0_ + 1s), Bytes{0x00});
}

// What the program sees: each step is a command and the record its reply
// carries, 0 when nothing comes, negative when it comes with a flipped byte.
TEST_F(InMemory, LostAndFlippedRepliesAsTheProgramSeesThem) {
    struct TRow {
        const char* Name;
        sim::TReplyFault Fault;
        int Nth;
        std::vector<std::pair<uint8_t, int>> Steps;
        size_t Left;  // records held after the steps
    };
    const TRow rows[] = {
        // The lost 03 still dropped record 1: a 02 finds record 2, ...
        {"LostNextThenFirst", sim::TReplyFault::Lost, 2, {{2, 1}, {3, 0}, {2, 2}, {3, 3}}, 1},
        // ... another 03 skips it unseen.
        {"LostNextThenNext", sim::TReplyFault::Lost, 2, {{2, 1}, {3, 0}, {3, 3}}, 1},
        {"FlippedFirst", sim::TReplyFault::FlippedByte, 1, {{2, -1}, {2, 1}}, 3},
        // Broken or not, it was delivered: the next 03 drops it.
        {"FlippedNext", sim::TReplyFault::FlippedByte, 2, {{2, 1}, {3, -2}, {3, 3}}, 1},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Name);
        sim::TExchangeConfig cfg;
        cfg.Units[0].Records = {Rec(1), Rec(2), Rec(3)};
        Serve(cfg);
        ex_->ArmRecordFault(row.Fault, row.Nth);
        auto t = t0_;
        for (const auto& [cmd, rec] : row.Steps) {
            Send({cmd, 0x00}, t += 1s);  // the echo shows where the reply ends
            Bytes r = Take(t);
            ASSERT_FALSE(r.empty());
            ASSERT_EQ(r.back(), 0x00);
            r.pop_back();
            const Bytes good =
                rec == 0 ? Bytes{} : Framed(Rec(static_cast<uint8_t>(std::abs(rec))));
            if (rec >= 0) {
                EXPECT_EQ(r, good);
                continue;
            }
            ASSERT_EQ(r.size(), good.size());
            EXPECT_EQ(r.back(), good.back());  // the sum of the bytes as they should be
            EXPECT_NE(r.back(), Sum(r, 1, r.size() - 2));
        }
        EXPECT_EQ(ex_->RecordCount(0), row.Left);
    }
}

TEST_F(InMemory, TheLinkNameFollowsTheTimesPassedIn) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Records = {Rec(1)};
    Serve(cfg);
    ex_->HideLink(50ms);
    ex_->NextForProgram(t0_ + 49ms);
    EXPECT_EQ(ex_->LinkState(), sim::TLinkState::Hidden);
    ex_->NextForProgram(t0_ + 50ms);
    EXPECT_EQ(ex_->LinkState(), sim::TLinkState::Shown);
    // At a reply, together with a fault of the reply itself.
    ex_->ArmRecordFault(sim::TReplyFault::HideLink, 1, 30ms, "/dev/null");
    ex_->ArmRecordFault(sim::TReplyFault::Lost, 1);
    Send(kFirst, t0_ + 100ms);
    EXPECT_TRUE(Take(t0_ + 129ms).empty());
    EXPECT_EQ(ex_->LinkState(), sim::TLinkState::Elsewhere);
    ex_->NextForProgram(t0_ + 130ms);
    EXPECT_EQ(ex_->LinkState(), sim::TLinkState::Shown);
}

}  // namespace

namespace {

// Two calls on a running clock from 2007-01-01 10:00:00 (ticks of 1 s): one
// over trunk code 3, then an internal one; each is a connection while it
// lasts and a record, stamped as it really ran, once it ends.
TEST_F(InMemory, CallsInProgressAreConnectionsThatEndAsRecords) {
    sim::TExchangeConfig cfg;
    cfg.Ticks = 36000;
    cfg.ClockRuns = true;
    Serve(cfg);
    const uint8_t ff = 0xFF ^ kKey;
    sim::TSimCall out;
    out.HwLine = 6;
    out.PrgDigits = "06";
    out.TrunkCode = 3;
    ex_->BeginCall(0, out, 90s);
    Take(t0_ + 30s);
    sim::TSimCall internal;
    internal.HwLine = 12;
    ex_->BeginCall(0, internal, 15s, 21);

    Send({0xF0, 0x01, 0x01, ff, ff}, t0_ + 40s);
    EXPECT_EQ(Take(t0_ + 40s), Framed({0x02, 0x44, 0x05, 0x00, 0x46, 0x02, 0x01, 0x02, 0x44, 0x0B,
                                       0x00, 0x44, 0x14, 0x01, 0x00}));
    EXPECT_EQ(ex_->CallsInProgress(), 2u);
    Take(t0_ + 45s);
    EXPECT_EQ(
        ex_->Records(0),
        (std::vector<Bytes>{{0x86, 0x26, 0xBE, 0x8C, 0x0F, 0x00, 0x0C, 0x00, 0x00, 0x00, 0x00}}));
    Take(t0_ + 90s);
    EXPECT_EQ(ex_->Records(0).back(),
              (Bytes{0x86, 0x26, 0xA0, 0x8C, 0x5A, 0x00, 0x06, 0x00, 0xA6, 0x00, 0x03}));
    Send({0xF0, 0x01, 0x01, ff, ff}, t0_ + 91s);
    EXPECT_EQ(Take(t0_ + 91s), Framed({}));

    // The identification reply's clock: 10:01:32 is tick 36092 (8C FC).
    Send({0x01}, t0_ + 92s);
    const Bytes id = Take(t0_ + 92s);
    ASSERT_GT(id.size(), 5u);
    EXPECT_EQ(Bytes({static_cast<uint8_t>(id[3] ^ kKey), static_cast<uint8_t>(id[4] ^ kKey)}),
              (Bytes{0xFC, 0x8C}));
}

}  // namespace
