// The query off the user-interface thread, over a pseudo-terminal to the
// simulated exchange: one at a time, its outcome on the receiver's thread,
// and a call-off that frees the line at once even when the line is silent.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <boost/make_shared.hpp>

#include "line_state_runner.h"
#include "sim_exchange.h"
#include "test_support.h"

using namespace testing_support;

namespace {

class Runner : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::TExchangeConfig c;
        c.LineState = {0x02, 0x44, 0x05, 0x00, 0x46, 0x02, 0x01, 0x00};
        exchange = std::make_unique<sim::TSimExchange>(c);
        ASSERT_TRUE(exchange->Start(dir.File("COM1"))) << exchange->LastError();
        link->Settings.StartDir = dir.Path();
        ASSERT_EQ(link->OpenPort("COM1"), TOpenResult::Opened);
        ASSERT_EQ(link->IdentifyExchange(), TIdentifyResult::Identified);
    }
    bool Served(const std::function<bool()>& condition) {
        return WaitFor([&] {
            QCoreApplication::processEvents();
            return condition();
        });
    }
    TTempDir dir;
    std::unique_ptr<sim::TSimExchange> exchange;
    boost::shared_ptr<TLowLevel> link = boost::make_shared<TLowLevel>();
    QObject receiver;
    TLineStateRunner runner{&receiver};
};

TEST_F(Runner, OneQueryAtATimeItsOutcomeOnTheReceiversThread) {
    std::vector<TLineStateOutcome> outcomes;
    QThread* deliveredOn = nullptr;
    auto done = [&](const TLineStateOutcome& o) {
        outcomes.push_back(o);
        deliveredOn = QThread::currentThread();
    };
    exchange->SetSilent(true);
    ASSERT_TRUE(runner.Start(link, done));
    EXPECT_FALSE(runner.Start(link, done));
    // A silent line holds a query for seconds; called off, it ends within
    // one echo's wait and its outcome never arrives.
    EXPECT_LT(ElapsedMs([&] { runner.CancelAndWait(); }), 1500);
    EXPECT_FALSE(runner.Busy());

    exchange->SetSilent(false);
    ASSERT_TRUE(runner.Start(link, done));
    ASSERT_TRUE(Served([&] { return !outcomes.empty(); }));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].Result, TLineStateResult::Queried);
    EXPECT_EQ(outcomes[0].Entries, (std::vector<std::string>{"АЛ205(0)   СЛ204(1)   "}));
    EXPECT_EQ(deliveredOn, QThread::currentThread());
}

TEST_F(Runner, AVanishedExchangeIsNoLink) {
    std::vector<TLineStateOutcome> outcomes;
    exchange->Vanish();
    ASSERT_TRUE(runner.Start(link, [&](const TLineStateOutcome& o) { outcomes.push_back(o); }));
    ASSERT_TRUE(Served([&] { return !outcomes.empty(); }));
    EXPECT_EQ(outcomes[0].Result, TLineStateResult::NoLink);
}

}  // namespace
