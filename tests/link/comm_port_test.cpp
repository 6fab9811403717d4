// The serial port, and the link context opening it, over a real
// pseudo-terminal.
#include "link/comm_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "link/low_level.h"
#include "link/protocol.h"
#include "tests/common/result_printers.h"
#include "tests/common/test_support.h"
#include "tests/link/pty_peer.h"

using namespace testing_support;

namespace {

uint8_t CodeOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ECommError& e) {
        return e.Code;
    }
    return 0;
}

// A read as the link makes it on the port: the protocol's byte time-out,
// then reads until ms have passed on the machine's clock.
int WaitForByte(TCommPort& port, int ms) {
    return ReadByteWait(port, TSteadyClock::Instance(), protocol::kByteTimeoutMs, ms);
}

}  // namespace

TEST(CommPort, OpenSetsTheExchangeLineAndOpeningTwiceChangesNothing) {
    TPtyPeer peer;
    TCommPort port;
    EXPECT_EQ(port.PortName(), "COM1");
    EXPECT_EQ(port.LineSettings().BaudRate, 9600u);
    port.Open(peer.SlavePath());
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(port.LineSettings().BaudRate, 19200u);
    EXPECT_EQ(port.LineSettings().ByteSize, 8);
    EXPECT_EQ(port.LineSettings().Parity, kNoParity);
    EXPECT_EQ(port.LineSettings().StopBits, kTwoStopBits);
    EXPECT_EQ(port.Timeouts().ReadTotalTimeoutConstant, 250u);

    port.Open("/dev/does-not-exist");  // already open: nothing happens
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.PortName(), peer.SlavePath());
    EXPECT_EQ(CodeOf([&] { port.SetPortName("COM2"); }), kErrSetPortName);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
    port.Close();  // closed: nothing happens
}

TEST(CommPort, MissingDeviceRaisesCode8AndLeavesThePortUsable) {
    TPtyPeer peer;
    TCommPort port;
    ECommError caught(0, 0);
    try {
        port.Open("/dev/tallyphon-no-such-device");
    } catch (const ECommError& e) {
        caught = e;
    }
    EXPECT_EQ(caught.Code, kErrOpen);
    EXPECT_NE(caught.SystemError, 0u);
    EXPECT_FALSE(port.IsOpen());
    port.Open(peer.SlavePath());
    EXPECT_TRUE(port.IsOpen());
}

TEST(CommPort, ADeviceHeldByAnotherProgramIsBusyEvenForRoot) {
    TPtyPeer peer;
    TCommPort first;
    first.Open(peer.SlavePath());
    TCommPort second;
    ECommError caught(0, 0);
    try {
        second.Open(peer.SlavePath());
    } catch (const ECommError& e) {
        caught = e;
    }
    EXPECT_EQ(caught.Code, kErrOpen);
    EXPECT_EQ(caught.SystemError, uint32_t(EBUSY));
    EXPECT_FALSE(second.IsOpen());
    first.Close();
    second.Open(peer.SlavePath());
    EXPECT_TRUE(second.IsOpen());
}

TEST(CommPort, AFileThatIsNotATerminalFailsAndStaysClosed) {
    TTempDir dir;
    const std::string file = dir.Path() + "/plain";
    FILE* f = fopen(file.c_str(), "w");
    fclose(f);
    TCommPort port;
    EXPECT_EQ(CodeOf([&] { port.Open(file); }), kErrGetState);
    EXPECT_FALSE(port.IsOpen());
}

TEST(CommPort, EveryByteOperationOnAClosedPortRaisesCode7) {
    TCommPort port;
    EXPECT_EQ(CodeOf([&] { port.WriteByte(0); }), kErrNotOpen);
    EXPECT_EQ(CodeOf([&] { port.ReadWithin(protocol::kByteTimeoutMs); }), kErrNotOpen);
    EXPECT_EQ(CodeOf([&] { WaitForByte(port, 0); }), kErrNotOpen);
    EXPECT_EQ(CodeOf([&] { port.PurgeInput(); }), kErrNotOpen);
    EXPECT_EQ(CodeOf([&] { port.Flush(); }), kErrNotOpen);
}

TEST(CommPort, BytesTravelBothWaysAndFFIsNotSilence) {
    TPtyPeer peer;
    TCommPort port;
    port.Open(peer.SlavePath());
    peer.Send({0xFF, 0x00, 0x7E});
    EXPECT_EQ(WaitForByte(port, 500), 255);
    EXPECT_EQ(WaitForByte(port, 500), 0);
    EXPECT_EQ(port.ReadWithin(protocol::kByteTimeoutMs), 0x7E);
    EXPECT_EQ(port.ReadWithin(protocol::kByteTimeoutMs), -1);
    EXPECT_FALSE(port.Lost());  // a silent line is not a lost device
    port.WriteByte(0xA5);
    port.Flush();
    EXPECT_TRUE(WaitFor([&] { return peer.Received() == std::vector<uint8_t>{0xA5}; }));
}

TEST(CommPort, PurgeDropsWhatWasReceived) {
    TPtyPeer peer;
    TCommPort port;
    port.Open(peer.SlavePath());
    peer.Send({1, 2, 3});
    ASSERT_EQ(WaitForByte(port, 500), 1);  // the bytes have arrived
    port.PurgeInput();
    peer.Send({9});
    EXPECT_EQ(WaitForByte(port, 500), 9);
}

// Read time-outs on a silent line: a plain read takes the 251 ms time-out,
// a waiting read goes on until its deadline is passed. Bounds are generous
// above, since a loaded machine only makes them longer.
struct TSilentRead {
    int waitMs;  // -1: a single read within the byte time-out
    long long atLeastMs;
};

void PrintTo(const TSilentRead& r, std::ostream* os) {
    *os << r.waitMs << "ms";
}

class SilentLine : public ::testing::TestWithParam<TSilentRead> {};

TEST_P(SilentLine, ReturnsMinusOneAfterTheTimeOut) {
    TPtyPeer peer;
    TCommPort port;
    port.Open(peer.SlavePath());
    int r = 0;
    const long long ms = ElapsedMs([&] {
        r = GetParam().waitMs < 0 ? port.ReadWithin(protocol::kByteTimeoutMs)
                                  : WaitForByte(port, GetParam().waitMs);
    });
    EXPECT_EQ(r, -1);
    EXPECT_GE(ms, GetParam().atLeastMs);
    EXPECT_LT(ms, GetParam().atLeastMs + 2000);
}

INSTANTIATE_TEST_SUITE_P(TimeOuts, SilentLine,
                         ::testing::Values(TSilentRead{-1, 245}, TSilentRead{0, 245},
                                           TSilentRead{200, 495}, TSilentRead{500, 745}));

TEST(CommPort, AByteArrivingDuringAWaitEndsItAtOnce) {
    TPtyPeer peer;
    TCommPort port;
    port.Open(peer.SlavePath());
    std::thread late([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        peer.Send({0x42});
    });
    int r = -1;
    const long long ms = ElapsedMs([&] { r = WaitForByte(port, 2000); });
    late.join();
    EXPECT_EQ(r, 0x42);
    EXPECT_LT(ms, 1500);
}

TEST(CommPort, AVanishedDeviceIsAnErrorNeverSilenceOrData) {
    TPtyPeer peer;
    TCommPort port;
    port.Open(peer.SlavePath());
    peer.Vanish();
    EXPECT_EQ(CodeOf([&] { port.ReadWithin(protocol::kByteTimeoutMs); }), kErrRead);
    EXPECT_EQ(CodeOf([&] { port.WriteByte(0); }), kErrWrite);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_TRUE(port.Lost());
    port.Close();
    EXPECT_FALSE(port.Lost());
}

TEST(CommPort, AByteThatFindsNoRoomIsReportedNotTakenForSent) {
    // Nobody reads the far end: the line's queue fills up.
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    TCommPort port;
    port.Open(ptsname(master));
    int written = 0;
    ECommError error(0, 0);
    try {
        for (; written < (1 << 20); ++written)
            port.WriteByte(0x55);
    } catch (const ECommError& e) {
        error = e;
    }
    EXPECT_GT(written, 0);
    EXPECT_EQ(error.Code, kErrWrite);
    EXPECT_EQ(error.SystemError, uint32_t(ETIMEDOUT));
    port.Close();
    close(master);
}

TEST(LinkPort, OpenPortRefusesAPortAlreadyOpenAndReportsAMissingOne) {
    TPtyPeer peer;
    TLowLevel ll;
    EXPECT_EQ(ll.OpenPort(peer.SlavePath()), TOpenResult::Opened);
    EXPECT_EQ(ll.OpenPort(peer.SlavePath()), TOpenResult::AlreadyOpen);
    TLowLevel other;
    EXPECT_EQ(other.OpenPort("/dev/tallyphon-missing"), TOpenResult::PortError);
    EXPECT_EQ(other.LastOpenError().Code, kErrOpen);
    EXPECT_FALSE(other.PortOpen());
}

TEST(CommPortNames, ComNamesResolveToAnEntryInTheStartDirectoryFirst) {
    TTempDir dir;
    EXPECT_EQ(ResolvePortDevice("COM1", dir.Path()), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortDevice("COM12", dir.Path()), "/dev/ttyS11");
    EXPECT_EQ(ResolvePortDevice("/dev/ttyUSB0", dir.Path()), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortDevice("COM0", dir.Path()), "COM0");
    EXPECT_EQ(ResolvePortDevice("COM01", dir.Path()), "COM01");
    EXPECT_EQ(ResolvePortDevice("COMX", dir.Path()), "COMX");

    TPtyPeer peer;
    ASSERT_EQ(symlink(peer.SlavePath().c_str(), (dir.Path() + "/COM3").c_str()), 0);
    EXPECT_EQ(ResolvePortDevice("COM3", dir.Path()), dir.Path() + "/COM3");
    TCommPort port;
    port.SetStartDir(dir.Path());
    port.Open("COM3");
    EXPECT_EQ(port.PortName(), "COM3");
    peer.Send({0x33});
    EXPECT_EQ(WaitForByte(port, 500), 0x33);
}

TEST(CommPortNames, ADanglingLinkIsAPortThatCannotBeOpened) {
    TTempDir dir;
    ASSERT_EQ(symlink("/dev/tallyphon-gone", (dir.Path() + "/COM2").c_str()), 0);
    TCommPort port;
    port.SetStartDir(dir.Path());
    EXPECT_EQ(CodeOf([&] { port.Open("COM2"); }), kErrOpen);
    EXPECT_FALSE(port.IsOpen());
}

TEST(CommPort, LineValuesAreStoredWhileClosedAndAppliedWhileOpen) {
    TPtyPeer peer;
    TCommPort port;
    port.SetBaudRate(4800);
    EXPECT_EQ(port.LineSettings().BaudRate, 4800u);
    port.Open(peer.SlavePath());
    EXPECT_EQ(port.LineSettings().BaudRate, 19200u);
    // A rate the device cannot take is refused and the old one kept.
    EXPECT_EQ(CodeOf([&] { port.SetBaudRate(12345); }), kErrSetBaudRate);
    EXPECT_EQ(port.LineSettings().BaudRate, 19200u);
    EXPECT_EQ(CodeOf([&] { port.SetByteSize(9); }), kErrSetByteSize);
    EXPECT_EQ(port.LineSettings().ByteSize, 8);
    EXPECT_EQ(CodeOf([&] { port.SetParity(7); }), kErrSetParity);
    port.SetStopBits(kOneStopBit);
    EXPECT_EQ(port.LineSettings().StopBits, kOneStopBit);
}
