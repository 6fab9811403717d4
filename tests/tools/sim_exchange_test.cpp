// The simulated exchange over a real pseudo-terminal, byte by byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

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

TEST_F(SimExchange, IdentifyScramblesAllButTheKey) {
    sim::TExchangeConfig cfg;
    cfg.TypeCode = 7;
    cfg.Name = "ZAVOD";
    cfg.Serial = 0x1234;
    cfg.TickByte = 10;
    cfg.Days = 0x2686;
    cfg.Ticks = 0x0102;
    Serve(cfg);
    Bytes r = Ask({0x01}, 1 + 33);
    ASSERT_EQ(r.size(), 34u);
    EXPECT_EQ(r[0], 33);  // 16 fixed bytes and a 17-byte name field
    Bytes p(r.begin() + 1, r.end());
    EXPECT_EQ(p[11], kKey);
    for (size_t i = 0; i < p.size(); ++i)
        if (i != 11) p[i] ^= kKey;
    EXPECT_EQ(p[0], 0x86);
    EXPECT_EQ(p[1], 0x26);
    EXPECT_EQ(p[2], 0x02);
    EXPECT_EQ(p[3], 0x01);
    EXPECT_EQ(p[5], 7);
    EXPECT_EQ(p[6], 0x15);
    EXPECT_EQ(p[7], 3);
    EXPECT_EQ(p[13], 10);
    EXPECT_EQ(p[14], 0x34);
    EXPECT_EQ(p[15], 0x12);
    EXPECT_EQ(std::string(p.begin() + 16, p.begin() + 21), "ZAVOD");
    EXPECT_EQ(Bytes(p.begin() + 21, p.end()), Bytes(12, 0x00));
}

TEST_F(SimExchange, IdentifySendsALongNameWholeAndCanBeSilenced) {
    sim::TExchangeConfig cfg;
    cfg.Name = "ABCDEFGHIJKLMNOPQRST";  // 20 bytes
    Serve(cfg);
    Bytes r = Ask({0x01}, 1 + 36);
    ASSERT_EQ(r.size(), 37u);
    EXPECT_EQ(r[0], 36);
    EXPECT_EQ(r.back() ^ kKey, 'T');
    ex_->SetIdentifySilent(true);
    line_->Write({0x01});
    EXPECT_TRUE(OnlyEchoFollows());
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

TEST_F(SimExchange, StatusChecksumErrorsHitOnlyTheNextReplies) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].AutoCounters = false;
    cfg.Units[0].Counter1 = 7;
    cfg.Units[0].Counter2 = 5;
    Serve(cfg);
    ex_->SetStatusChecksumErrors(2);
    for (int i = 0; i < 3; ++i) {
        Bytes r = Ask({0x40, 0x03}, 8);
        ASSERT_EQ(r.size(), 8u);
        EXPECT_EQ(r[7] == Sum(r, 1, 6), i == 2) << "reply " << i;
        EXPECT_EQ(r[3] ^ kKey, 7);
        EXPECT_EQ(r[5] ^ kKey, 5);
    }
}

TEST_F(SimExchange, StatusPrefixFollowedByAnotherCommandIsThatCommand) {
    Serve();
    EXPECT_EQ(Ask({0x40, 0x00}, 1), Bytes{0x00});
}

TEST_F(SimExchange, SelectUnitAcceptsAndRefuses) {
    sim::TExchangeConfig cfg;
    cfg.Units.resize(3);
    cfg.Units[2].RefuseSelect = true;
    Serve(cfg);
    EXPECT_EQ(Ask(SelectCommand(1), 2), (Bytes{0x84, 0x00}));
    EXPECT_EQ(ex_->ActiveUnit(), 1);
    EXPECT_EQ(Ask(SelectCommand(2), 2)[1], 0x01);  // refused by the unit
    EXPECT_EQ(Ask(SelectCommand(3), 2)[1], 0x01);  // no such unit
    uint8_t x = 0 ^ kKey;
    EXPECT_EQ(Ask({0x84, 0x01, x, static_cast<uint8_t>(x + 1)}, 2)[1], 0x01);  // bad checksum
    EXPECT_EQ(ex_->ActiveUnit(), 1);
    EXPECT_EQ(ex_->SelectCount(), 4);
}

TEST_F(SimExchange, FirstRecordKeepsNextRecordDrops) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Records = {Rec(1), Rec(2, 11)};
    Serve(cfg);
    EXPECT_EQ(Ask(kFirst, 15), Framed(Rec(1)));
    EXPECT_EQ(Ask(kFirst, 15), Framed(Rec(1)));  // still there
    EXPECT_EQ(ex_->RecordCount(0), 2u);
    EXPECT_EQ(Ask(kNext, 13), Framed(Rec(2, 11)));
    EXPECT_EQ(ex_->Records(0), std::vector<Bytes>{Rec(2, 11)});
    EXPECT_EQ(Ask(kNext, 3), Framed({0x00}));  // end of the buffer
    EXPECT_EQ(ex_->RecordCount(0), 0u);
    EXPECT_EQ(Ask(kFirst, 3), Framed({0x00}));
}

TEST_F(SimExchange, NextRecordWithNothingDeliveredDropsNothing) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Records = {Rec(1), Rec(2)};
    Serve(cfg);
    EXPECT_EQ(Ask(kNext, 15), Framed(Rec(1)));
    EXPECT_EQ(ex_->RecordCount(0), 2u);
}

TEST_F(SimExchange, EachUnitHasItsOwnBuffer) {
    sim::TExchangeConfig cfg;
    cfg.Units.resize(2);
    cfg.Units[0].Records = {Rec(1)};
    cfg.Units[1].Records = {Rec(5), Rec(6)};
    cfg.Units[1].Capacity = 77;
    Serve(cfg);
    EXPECT_EQ(Ask(kFirst, 15), Framed(Rec(1)));
    Ask(SelectCommand(1), 2);
    EXPECT_EQ(Ask(kFirst, 15), Framed(Rec(5)));
    Bytes st = Ask({0x40, 0x03}, 8);
    ASSERT_EQ(st.size(), 8u);
    EXPECT_EQ(st[1] ^ kKey, 77);
    EXPECT_EQ(Ask(kNext, 15), Framed(Rec(6)));
    EXPECT_EQ(ex_->RecordCount(0), 1u);  // unit 0 untouched
    EXPECT_EQ(ex_->RecordCount(1), 1u);
}

TEST_F(SimExchange, RecordFaults) {
    sim::TExchangeConfig cfg;
    cfg.Units[0].Records = {Rec(1), Rec(2), Rec(3), Rec(4)};
    Serve(cfg);
    const Bytes good = Framed(Rec(1));

    ex_->ArmRecordFault(sim::TReplyFault::BadChecksum);
    Bytes r = Ask(kFirst, 15);
    ASSERT_EQ(r.size(), 15u);
    EXPECT_EQ(Bytes(r.begin(), r.end() - 1), Bytes(good.begin(), good.end() - 1));
    EXPECT_NE(r.back(), good.back());

    ex_->ArmRecordFault(sim::TReplyFault::SilenceAfterLength);
    line_->Write(kFirst);
    EXPECT_EQ(line_->Read(1), Bytes{13});
    EXPECT_TRUE(OnlyEchoFollows());

    ex_->ArmRecordFault(sim::TReplyFault::CutShort, 2);
    EXPECT_EQ(Ask(kFirst, 15), good);  // the first reply after arming is whole
    line_->Write(kFirst);
    r = line_->Read(1);
    ASSERT_EQ(r, Bytes{13});
    line_->Write({0x00});
    r = line_->ReadUntil(0x00);  // no scrambled byte of this record is 00
    ASSERT_FALSE(r.empty());
    EXPECT_LT(r.size(), 13u + 1u);  // part of the payload, then the echo
    EXPECT_EQ(Bytes(r.begin(), r.end() - 1), Bytes(good.begin() + 1, good.begin() + r.size()));

    ex_->SetFirstRecordBadChecksum(true);
    r = Ask(kFirst, 15);
    EXPECT_NE(r.back(), good.back());
    ex_->SetFirstRecordBadChecksum(false);
    EXPECT_EQ(Ask(kFirst, 15), good);

    // A reply lost to a fault was still delivered: the next 03 drops it.
    ex_->ArmRecordFault(sim::TReplyFault::SilenceAfterLength);
    EXPECT_EQ(Ask(kNext, 1), Bytes{13});  // record 1 dropped, record 2 lost on the line
    EXPECT_EQ(Ask(kNext, 15), Framed(Rec(3)));
    EXPECT_EQ(ex_->RecordCount(0), 2u);
}

TEST_F(SimExchange, LineStateReply) {
    sim::TExchangeConfig cfg;
    cfg.LineState = {0x02, 0x44, 0x05, 0x00, 0x46, 0x02, 0x01, 0x00};
    Serve(cfg);
    const uint8_t ff = 0xFF ^ kKey;
    EXPECT_EQ(Ask({0xF0, 0x01, 0x01, ff, ff}, 10), Framed(cfg.LineState));
    line_->Write({0xF0, 0x01, 0x01, ff, 0x00});  // broken block sum: not answered
    EXPECT_TRUE(OnlyEchoFollows());
}

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
