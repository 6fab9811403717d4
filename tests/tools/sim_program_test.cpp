// The sim_exchange program: its options, scenario errors and serving.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "tests/tools/line.h"

extern char** environ;

namespace {

using namespace simtest;
namespace fs = std::filesystem;

class SimProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/simprogXXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }
    // Starts the program with its output going to a file in the test folder.
    void Run(std::vector<std::string> args) {
        args.insert(args.begin(), SIM_EXCHANGE_PROGRAM);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        const std::string out = dir_ + "/out.txt";
        posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&fa, 1, 2);
        ASSERT_EQ(posix_spawn(&pid_, argv[0], &fa, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
    }
    // Exit status once the program ended, -1 when it did not end in time.
    int Finish() {
        int status = 0;
        bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Output() const {
        std::ifstream in(dir_ + "/out.txt");
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(dir_ + "/" + name) << text;
        return dir_ + "/" + name;
    }

    std::string dir_;
    pid_t pid_ = -1;
};

TEST_F(SimProgram, ServesOnTheLinkUntilTerminated) {
    const std::string link = dir_ + "/COM1";
    std::string scenario = Write("day.txt",
                                 "# one call\n"
                                 "hw=5 prg=05 trunk=3 dial=2345678\n"
                                 "unit=1 rejected\n");
    Run({"--link", link, "--type", "2", "--name", "2B-OFFICE", "--key", "0x33", "--scenario",
         scenario});
    ASSERT_TRUE(WaitFor([&] { return Output().find("link") != std::string::npos; }));
    EXPECT_NE(Output().find("2 unit(s), 2 record(s)"), std::string::npos) << Output();
    TLine line(link);
    ASSERT_TRUE(line.IsOpen());
    line.Write({0x00});
    EXPECT_EQ(line.Read(1), std::vector<uint8_t>{0x00});
    line.Write({0x02});
    std::vector<uint8_t> r = line.Read(1 + 15 + 1);
    ASSERT_EQ(r.size(), 17u);
    EXPECT_EQ(r[0], 15);
    EXPECT_EQ(r[1 + 11] ^ 0x33, 0x02);  // "2345678" packs as 02 34 56 78

    kill(pid_, SIGTERM);
    EXPECT_EQ(Finish(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

// Each row is a command line the program refuses and what it says (empty:
// not looked at); a bad scenario line is named by its file and number.
TEST_F(SimProgram, BadOptionsAndScenariosAreRefusedAndHelpIsGiven) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows{
        {{"--key", "300"}, "--key"},
        {{"--line-state", "0 2"}, ""},
        {{"--colour"}, ""},
        {{"--lose-reply", "2", "--flip-reply", "2"}, "reply 2 is given two faults"},
        {{"--hide-link-for", "1"}, "go with --hide-link-at"},
        {{"--hide-link-at", "1"}, "needs --link"},
        {{"--clock", "2024-02-30x"}, "--clock: '2024-02-30x'"},
        {{"--clock", "1979-12-31 23:59:59"}, "from 1980 on"},
        {{"--line-state-fault", "slow"}, "neither no-reply nor bad-checksum"},
        {{"--scenario", Write("bad.txt", "hw=1\nhw=1 trunk=300\n")}, "bad.txt: line 2: trunk=300"},
        {{"--units", "2", "--scenario", Write("unit.txt", "unit=2 hw=1\n")},
         "line 1: unit 2 does not exist"},
    };
    for (const auto& [args, complaint] : rows) {
        SCOPED_TRACE(args.front());
        Run(args);
        EXPECT_EQ(Finish(), 2);
        EXPECT_NE(Output().find(complaint), std::string::npos) << Output();
    }
    Run({"--help"});
    EXPECT_EQ(Finish(), 0);
    EXPECT_NE(Output().find("--arrive-every"), std::string::npos);
    EXPECT_NE(Output().find("--hide-link-to"), std::string::npos);
}

// The reply to cmd as its length byte announces it; empty when the echo
// asked behind it comes first.
std::vector<uint8_t> Reply(const TLine& line, uint8_t cmd) {
    line.Write({cmd, 0x00});
    std::vector<uint8_t> r = line.Read(1);
    if (r.empty() || r[0] == 0x00) return {};
    const std::vector<uint8_t> rest = line.Read(r[0] + 2u);  // payload, sum, echo
    r.insert(r.end(), rest.begin(), rest.end());
    EXPECT_EQ(r.back(), 0x00);
    r.pop_back();
    return r;
}

bool SumsRight(const std::vector<uint8_t>& r) {
    return r.size() > 2 && r.back() == Sum(r, 1, r.size() - 2);
}

// Records c1 c2 c2' (twins); reply 2 lost, reply 4 flipped (from the
// scenario). From the start the name points at a decoy for a while; the
// terminal serves all the same, and the name comes back on its own.
TEST_F(SimProgram, FaultsFromOptionsAndScenario) {
    const std::string link = dir_ + "/COM1";
    Run({"--link", link, "--calls", "2", "--twins-every", "2", "--lose-reply", "2", "--scenario",
         Write("f.txt", "flip-reply=4\n"), "--hide-link-at", "0", "--hide-link-for", "0.4",
         "--hide-link-to", "/dev/null"});
    ASSERT_TRUE(WaitFor([&] { return Output().find("link hidden") != std::string::npos; }));
    const std::string out = Output();
    EXPECT_NE(out.find("3 record(s)"), std::string::npos) << out;
    const size_t at = out.find("slave ") + 6;
    const std::string slave = out.substr(at, out.find('\n', at) - at);
    auto target = [&] {
        std::error_code ec;
        return fs::read_symlink(link, ec).string();
    };
    EXPECT_EQ(target(), "/dev/null");
    TLine line(slave);  // held through the name's absence
    ASSERT_TRUE(line.IsOpen());

    const auto c1 = Reply(line, 0x02);
    EXPECT_TRUE(SumsRight(c1));
    EXPECT_TRUE(Reply(line, 0x03).empty());  // c1 dropped all the same
    const auto c2 = Reply(line, 0x02);
    EXPECT_TRUE(SumsRight(c2));
    EXPECT_NE(c2, c1);
    EXPECT_FALSE(SumsRight(Reply(line, 0x03)));  // c2', flipped
    EXPECT_EQ(Reply(line, 0x02), c2);            // c2' whole: c2's twin

    EXPECT_EQ(Reply(line, 0x00), std::vector<uint8_t>{});  // only the echoes: still serving
    ASSERT_TRUE(WaitFor([&] { return target() == slave; })) << target();
}

}  // namespace
