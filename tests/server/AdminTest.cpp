// The operator's control socket on a real server: who is online, kicks, bans that outlast a restart,
// disabled accounts, the server's own chat lines, and commands it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/server/ServerHarness.h"
#include "tests/support/Command.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"

namespace servertest {
namespace {

class AdminTest : public ServerTest {
protected:
    void SetUp() override {
        directory_ = testsupport::MakeTempDir("admin");
        accounts_ = directory_ + "/accounts.db";
        socket_ = directory_ + "/admin.sock";
        for (const char *user : {"anna", "bob"}) {
            ASSERT_EQ(Run(std::string("printf 'pw\\n' | '") + testsupport::ServerPath() + "' accounts add " +
                          accounts_ + " " + user)
                          .exitCode,
                      0);
        }
    }
    void TearDown() override { testsupport::RemoveTree(directory_); }
    testsupport::CommandResult Run(const std::string &command) { return testsupport::RunCaptured(command, directory_); }
    testsupport::CommandResult Admin(const std::string &arguments) {
        return Run("'" + std::string(testsupport::ServerPath()) + "' admin --socket " + socket_ + " " + arguments);
    }
    void Start() {
        StartServer({"--accounts", accounts_, "--admin-socket", socket_, "--bans", directory_ + "/bans", "--motd",
                     "welcome aboard", "--refusal-delay", "0"});
    }
    std::string directory_, accounts_, socket_;
};

TEST_F(AdminTest, OperatorsSeeKickBanAndTalkToPilotsAndBansOutlastARestart) {
    Start();
    std::string home = testsupport::UniqueLoopbackAddress(), elsewhere = testsupport::UniqueLoopbackAddress();
    ProtocolClient anna(address_, 11, home);
    anna.Login("anna", "pw");
    EXPECT_TRUE(anna.WaitForLine("0|m|Server: welcome aboard"));
    ProtocolClient bob(address_, 12, elsewhere);
    bob.Login("bob", "pw");
    EXPECT_TRUE(bob.WaitForLine("0|m|Server: welcome aboard"));

    testsupport::CommandResult who = Admin("who");
    ASSERT_EQ(who.exitCode, 0) << who.err;
    EXPECT_NE(who.out.find("anna\tBLANK\t" + home + "\there\t"), std::string::npos) << who.out;
    EXPECT_NE(who.out.find("bob\tBLANK\t" + elsewhere + "\there\t"), std::string::npos) << who.out;

    EXPECT_EQ(Admin("say 'going down in 10 minutes'").exitCode, 0);
    EXPECT_TRUE(anna.WaitForLine("0|m|Server: going down in 10 minutes"));
    EXPECT_TRUE(bob.WaitForLine("0|m|Server: going down in 10 minutes"));

    // A kick tells the pilot why, in the line after which its plug-in does not reconnect.
    EXPECT_EQ(Admin("kick anna too fast").exitCode, 0);
    EXPECT_TRUE(anna.WaitForLine("9001|m|Server: session ended: kicked by the operator: too fast"));
    EXPECT_TRUE(anna.WaitClosed());
    EXPECT_TRUE(server_->WaitForLog("): kicked \"anna\" (1 sessions): \"too fast\""));

    // A ban of her address keeps her out, and nobody else; bad input changes nothing.
    for (const char *bad : {"ban 10.1.2.3/33", "ban 10.1.2.3/8", "ban anna --for 0s", "ban anna --for 5300w",
                            "ban 'an na'", "kick nobody", "unban 192.0.2.1", "frobnicate", "disable nobody"}) {
        testsupport::CommandResult refused = Admin(bad);
        EXPECT_EQ(refused.exitCode, 1) << bad;
        EXPECT_NE(refused.err.find("error: "), std::string::npos) << bad << ": " << refused.err;
    }
    testsupport::CommandResult banned = Admin("ban " + home + " --for 1h cheating");
    ASSERT_EQ(banned.exitCode, 0) << banned.err;
    testsupport::CommandResult bans = Admin("bans");
    EXPECT_NE(bans.out.find(home + "\t"), std::string::npos) << bans.out;
    EXPECT_EQ(bans.out.find("anna"), std::string::npos) << bans.out;
    ProtocolClient again(address_, 13, home);
    auto notice = again.ReadLine(2000);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->rfind("9001|m|Server: login refused: banned until ", 0), 0u) << *notice;
    EXPECT_NE(notice->find(": cheating"), std::string::npos) << *notice;

    // Disabling an account ends its session at once.
    testsupport::CommandResult disabled = Admin("disable bob");
    EXPECT_EQ(disabled.exitCode, 0) << disabled.err;
    EXPECT_TRUE(bob.WaitForLine("9001|m|Server: session ended: this account was disabled"));

    // A second server given the same socket stops with the reason rather than take the first one's commands.
    testsupport::CommandResult second =
        Run("timeout 10 '" + std::string(testsupport::ServerPath()) + "' --open --address " +
            testsupport::UniqueLoopbackAddress() + " --admin-socket " + socket_);
    EXPECT_EQ(second.exitCode, 1);
    EXPECT_NE(second.err.find("another server takes commands there"), std::string::npos) << second.err;
    EXPECT_EQ(Admin("bans").exitCode, 0) << "the first one still takes them";

    // The ban outlasts a restart, until it is lifted.
    server_.reset();
    Start();
    ProtocolClient afterRestart(address_, 14, home);
    afterRestart.Login("anna", "pw");
    EXPECT_TRUE(afterRestart.WaitClosed());
    EXPECT_EQ(Admin("unban " + home).exitCode, 0);
    ProtocolClient unbanned(address_, 15, home);
    unbanned.Login("anna", "pw");
    EXPECT_TRUE(unbanned.WaitForLine("0|m|Server: welcome aboard"));

    // Nobody but the server's own user gets a command through.
    if (geteuid() == 0) {
        testsupport::CommandResult stranger =
            Run("setpriv --reuid=65534 --regid=65534 --clear-groups '" + std::string(testsupport::ServerPath()) +
                "' admin --socket " + socket_ + " kick anna");
        EXPECT_NE(stranger.exitCode, 0) << stranger.out;
        EXPECT_TRUE(unbanned.Connected());
        EXPECT_FALSE(unbanned.WaitClosed(300));
    }
}

TEST_F(AdminTest, AMessageOfTheDaySetByTheOperatorOutlastsARestartUntilTheConfigChanges) {
    // The config file is older than anything the operator sets below.
    std::string config = directory_ + "/server.toml", kept = directory_ + "/bans.motd";
    auto configure = [&](const std::string &motd) {
        std::ofstream(config) << "accounts = \"" << accounts_ << "\"\nadmin-socket = \"" << socket_ << "\"\nbans = \""
                              << directory_ << "/bans\"\nrefusal-delay = 0\nmotd = \"" << motd << "\"\n";
    };
    auto firstLine = [&](int id) {
        ProtocolClient pilot(address_, id);
        pilot.Login("anna", "pw");
        auto line = pilot.ReadLine(2000);
        return line ? *line : std::string("(nothing)");
    };
    configure("from the config");
    ASSERT_EQ(Run("touch -d '1 hour ago' " + config).exitCode, 0);
    StartServer({"--config", config});
    EXPECT_EQ(firstLine(21), "0|m|Server: from the config");

    // Bad texts change nothing; a good one is kept next to the bans and read at the next start.
    EXPECT_EQ(Admin("motd \"$(printf 'two\\nlines')\"").exitCode, 1);
    EXPECT_EQ(Admin("motd \"$(head -c 600 /dev/zero | tr '\\0' x)\"").exitCode, 1);
    EXPECT_NE(testsupport::RunCaptured("test -e " + kept, directory_).exitCode, 0);
    testsupport::CommandResult set = Admin("motd fly safe tonight");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    EXPECT_EQ(testsupport::ReadFile(kept), "fly safe tonight\n");
    server_.reset();
    StartServer({"--config", config});
    EXPECT_EQ(firstLine(22), "0|m|Server: fly safe tonight");
    EXPECT_TRUE(server_->WaitForLog("message of the day as last set by an operator, from " + kept));

    // The operator edits the config file afterwards: its message counts from the next start.
    server_.reset();
    ASSERT_EQ(Run("touch -d '1 minute ago' " + kept).exitCode, 0);
    configure("new season");
    StartServer({"--config", config});
    EXPECT_EQ(firstLine(23), "0|m|Server: new season");

    // A kept file that is not a message of the day stops the start, saying which file and why.
    server_.reset();
    std::ofstream(kept) << "one\ntwo\n";
    ASSERT_EQ(Run("touch " + kept).exitCode, 0);
    testsupport::CommandResult refused = Run("timeout 20 '" + std::string(testsupport::ServerPath()) + "' --config " +
                                             config + " --address " + address_);
    EXPECT_EQ(refused.exitCode, 1) << refused.out << refused.err;
    EXPECT_NE((refused.out + refused.err).find(kept + ": a message of the day with a control character"),
              std::string::npos)
        << refused.out << refused.err;
}

}  // namespace
}  // namespace servertest
