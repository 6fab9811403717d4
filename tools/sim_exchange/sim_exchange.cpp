// The simulated exchange put together: its state, the protocol it speaks,
// the line it speaks it on and the faults it commits, all under one lock,
// with the thread that serves a terminal.
#include "tools/sim_exchange/sim_exchange.h"

#include <pthread.h>
#include <sys/prctl.h>

#include <stdexcept>
#include <thread>

#include "tools/sim_exchange/exchange_state.h"
#include "tools/sim_exchange/fault_injector.h"
#include "tools/sim_exchange/protocol.h"
#include "tools/sim_exchange/transport.h"

namespace sim {

namespace {

using Clock = TTransport::Clock;
using TimePoint = TTransport::TimePoint;

}  // namespace

struct TSimExchange::Impl {
    explicit Impl(TExchangeConfig config)
        : state(std::move(config)),
          transport(state.Config(), [this] { protocol.Reset(); }),
          faults(transport),
          protocol(state, transport, faults) {}

    mutable std::mutex mu;
    TExchangeState state;
    TTransport transport;
    TFaultInjector faults;
    TProtocol protocol;
    std::thread thread;
    bool serving = false;
    bool stopRequested = false;

    // False (LastError set) when serving already or the configuration
    // cannot be served.
    bool CanStart() {
        transport.ClearError();
        if (serving) return transport.Fail("already serving");
        const std::string unusable = state.Unusable();
        return unusable.empty() || transport.Fail(unusable);
    }

    // One byte of the program's, handed over at `at`.
    void Hear(uint8_t b, TimePoint at) {
        if (transport.Hear(b, at, !faults.Silent())) protocol.Feed(b, at);
    }

    void OnRead(const uint8_t* data, size_t n, TimePoint now) {
        for (size_t i = 0; i < n && transport.LineUp(); ++i)  // a vanished device hears no more
            Hear(data[i], now);
    }

    // Acts on the program's bytes that have fully arrived by now.
    void ActOnArrived(TimePoint now) {
        uint8_t b = 0;
        TimePoint at;
        while (transport.TakeArrived(now, b, at))
            if (!faults.Silent()) protocol.Feed(b, at);
    }

    // In memory: acts on everything due by t, in the order the serving
    // thread would.
    void CatchUp(TimePoint t) {
        ActOnArrived(t);
        faults.ComeBackBy(t);
        faults.LinkBackBy(t);
        state.ApplyArrivals(t);
    }

    // In memory: takes now as the latest time (never going back) and acts on
    // everything due by it.
    void Advance(TimePoint now) { CatchUp(transport.Advance(now)); }

    // Brings the exchange up to date before it is looked at.
    void Current() {
        if (transport.InMemory())
            CatchUp(transport.Now());
        else
            state.ApplyArrivals(Clock::now());
    }

    void Serve() {
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        pthread_setname_np(pthread_self(), "sim_exchange");
        std::unique_lock<std::mutex> lock(mu);
        while (!stopRequested) {
            const TimePoint now = Clock::now();
            state.ApplyArrivals(now);
            faults.ComeBackBy(now);
            faults.LinkBackBy(now);
            ActOnArrived(now);
            transport.FlushOut(now);

            TimePoint next = TimePoint::max();
            transport.NextDue(next);
            state.NextDue(next);
            faults.NextDue(next);
            uint8_t buf[512];
            TimePoint readAt;
            const size_t n = transport.Await(next, lock, buf, sizeof buf, readAt);
            if (n > 0) OnRead(buf, n, readAt);
        }
    }
};

TSimExchange::TSimExchange(TExchangeConfig config)
    : impl_(std::make_unique<Impl>(std::move(config))) {}

TSimExchange::~TSimExchange() {
    Stop();
}

bool TSimExchange::Start(const std::string& linkPath) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.CanStart()) return false;
    d.faults.Reset();
    if (!d.transport.OpenDevice(linkPath)) return false;
    d.state.Begin(Clock::now());
    d.stopRequested = false;
    d.serving = true;
    d.thread = std::thread([this] { impl_->Serve(); });
    return true;
}

bool TSimExchange::StartInMemory(std::chrono::steady_clock::time_point start) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.CanStart()) return false;
    d.faults.Reset();
    d.transport.OpenInMemory(start);
    d.state.Begin(start);
    d.serving = true;
    return true;
}

void TSimExchange::Stop() {
    std::thread t;
    {
        std::lock_guard<std::mutex> lock(impl_->mu);
        if (!impl_->serving) return;
        impl_->stopRequested = true;
        impl_->transport.Wake();
        t = std::move(impl_->thread);
    }
    if (t.joinable()) t.join();  // in memory there is no thread
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->transport.Close();
    impl_->faults.Reset();
    impl_->serving = false;
}

void TSimExchange::ReceiveFromProgram(uint8_t b, std::chrono::steady_clock::time_point at) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.transport.InMemory()) return;
    d.Advance(at);
    if (d.transport.LineUp()) d.Hear(b, d.transport.Now());
}

int TSimExchange::TakeForProgram(std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.transport.InMemory()) return -1;
    d.Advance(now);
    return d.transport.TakeOut();
}

std::chrono::steady_clock::time_point TSimExchange::NextForProgram(
    std::chrono::steady_clock::time_point now) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.transport.InMemory()) return TimePoint::max();
    d.Advance(now);
    // A byte on its way from the program may answer sooner than anything
    // queued; nothing else makes a reply.
    while (d.transport.ArrivalBeforeOut())
        d.ActOnArrived(d.transport.NextArrival());
    return d.transport.NextOut();
}

void TSimExchange::PurgeForProgram(std::chrono::steady_clock::time_point now) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    Impl& d = *impl_;
    if (!d.serving || !d.transport.InMemory()) return;
    d.Advance(now);
    d.transport.PurgeOut();
}

bool TSimExchange::Serving() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->serving;
}

bool TSimExchange::Gone() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->transport.Vanished();
}

std::string TSimExchange::LastError() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->transport.LastError();
}

std::string TSimExchange::SlavePath() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->transport.SlavePath();
}

void TSimExchange::AddRecord(int unit, std::vector<uint8_t> payload) {
    TExchangeState::CheckPayload(payload);
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->state.AddRecord(unit, std::move(payload));
}

size_t TSimExchange::RecordCount(int unit) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->state.CheckUnit(unit);
    impl_->Current();
    return impl_->state.Records(unit).size();
}

std::vector<std::vector<uint8_t>> TSimExchange::Records(int unit) const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->state.CheckUnit(unit);
    impl_->Current();
    const auto& r = impl_->state.Records(unit);
    return {r.begin(), r.end()};
}

void TSimExchange::ScheduleArrivals(
    int unit, std::vector<std::pair<std::chrono::milliseconds, std::vector<uint8_t>>> arrivals) {
    for (const auto& a : arrivals)
        TExchangeState::CheckPayload(a.second);
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->state.ScheduleArrivals(unit, impl_->transport.Now(), std::move(arrivals));
    impl_->transport.Wake();
}

void TSimExchange::BeginCall(int unit, TSimCall call, std::chrono::milliseconds duration,
                             uint16_t partnerLine) {
    if (call.HwLine < 1 || call.HwLine > 256 || partnerLine > 256)
        throw std::invalid_argument("a call in progress is on lines 1 to 256");
    static_cast<void>(EncodeRecord(call));  // digits that cannot be packed throw here
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->state.BeginCall(unit, std::move(call), impl_->transport.Now(), duration, partnerLine);
    impl_->transport.Wake();
}

size_t TSimExchange::CallsInProgress() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->Current();
    return impl_->state.CallsInProgress();
}

uint64_t TSimExchange::ClockSeconds() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->state.SecondsAt(impl_->transport.Now());
}

void TSimExchange::SetSilent(bool silent) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.SetSilent(silent);
}

void TSimExchange::ScriptEchoes(std::map<int, int> replies) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.ScriptEchoes(std::move(replies));
}

void TSimExchange::SetStatusChecksumErrors(int n) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.SetStatusChecksumErrors(n);
}

void TSimExchange::SetIdentifySilent(bool silent) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.SetIdentifySilent(silent);
}

void TSimExchange::ArmRecordFault(TReplyFault fault, int nth, std::chrono::milliseconds comeBack,
                                  const std::string& decoy) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.ArmRecordFault(fault, nth, comeBack, decoy);
}

void TSimExchange::SetFirstRecordBadChecksum(bool bad) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->faults.SetFirstRecordBadChecksum(bad);
}

void TSimExchange::Vanish() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving || impl_->transport.Vanished()) return;
    impl_->faults.Vanish();
}

void TSimExchange::Reappear() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving || !impl_->transport.Vanished()) return;
    impl_->faults.Reappear();
}

void TSimExchange::HideLink(std::chrono::milliseconds back) {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving) return;
    impl_->faults.MoveLink(TLinkState::Hidden, "", back, impl_->transport.Now());
}

void TSimExchange::RelinkTo(const std::string& decoy, std::chrono::milliseconds back) {
    if (decoy.empty()) throw std::invalid_argument("relink: the decoy path is empty");
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving) return;
    impl_->faults.MoveLink(TLinkState::Elsewhere, decoy, back, impl_->transport.Now());
}

void TSimExchange::RestoreLink() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    if (!impl_->serving) return;
    impl_->faults.MoveLink(TLinkState::Shown, "", std::chrono::milliseconds(0),
                           impl_->transport.Now());
}

TLinkState TSimExchange::LinkState() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->Current();
    return impl_->transport.LinkState();
}

std::vector<uint8_t> TSimExchange::Received() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->transport.Received();
}

void TSimExchange::ClearReceived() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->transport.ClearReceived();
}

uint64_t TSimExchange::WireBytes() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->transport.WireBytes();
}

void TSimExchange::ResetWireBytes() {
    std::lock_guard<std::mutex> lock(impl_->mu);
    impl_->transport.ResetWireBytes();
}

int TSimExchange::SelectCount() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->protocol.SelectCount();
}

int TSimExchange::ActiveUnit() const {
    std::lock_guard<std::mutex> lock(impl_->mu);
    return impl_->state.ActiveUnit();
}

TExchangeConfig& TSimExchange::Config() {
    return impl_->state.Config();
}

}  // namespace sim
