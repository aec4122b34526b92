// Logging in to a real server: the accounts file and its commands, accepted and refused logins.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "server/accounts/Digest.h"
#include "tests/server/ServerHarness.h"
#include "tests/support/Loopback.h"
#include "tests/support/Paths.h"

namespace servertest {
namespace {

// Runs `skorvale-server accounts ...` with `input` on standard input; returns its exit code and output.
int Accounts(const std::string &arguments, const std::string &input, std::string *output = nullptr) {
    std::string command =
        "printf '" + input + "' | '" + testsupport::ServerPath() + "' accounts " + arguments + " 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    std::string text;
    char chunk[256];
    while (std::fgets(chunk, sizeof chunk, pipe)) text += chunk;
    int status = pclose(pipe);
    if (output) *output = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class LoginTest : public ServerTest {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/skorvale-accounts-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        file_ = directory_ + "/accounts.db";
    }
    void TearDown() override {
        unlink(file_.c_str());
        rmdir(directory_.c_str());
    }
    // True when the server took the login: only a logged-in client gets its own chat line back.
    static bool LoggedIn(ProtocolClient &client) {
        client.SendLine(std::to_string(client.Id()) + "|MESSAGE|ping");
        auto line = client.ReadLine(2000);
        return line && line->find(": ping") != std::string::npos;
    }
    std::string directory_, file_;
};

TEST(DigestTest, IsMd5OfIdUserAndPasswordInLowerCaseHex) {
    EXPECT_EQ(server::LoginDigest(12345, "anna", "secret"), "c6d8f0188ebc6932ab40489dd49c2978");
    EXPECT_EQ(server::LoginDigest(7, "", ""), "8f14e45fceea167a5a36dedd4bea2543");
    EXPECT_TRUE(server::DigestsEqual("C6D8F0188EBC6932AB40489DD49C2978", "c6d8f0188ebc6932ab40489dd49c2978"));
    EXPECT_FALSE(server::DigestsEqual("c6d8f0188ebc6932ab40489dd49c2978", "c6d8f0188ebc6932ab40489dd49c297"));
}

TEST_F(LoginTest, AccountsCommandsKeepPasswordsInAPrivateFile) {
    EXPECT_EQ(Accounts("add " + file_ + " anna", "secret\n"), 0);
    EXPECT_EQ(Accounts("add " + file_ + " bob", "hunter2\n"), 0);
    struct stat info {};
    ASSERT_EQ(stat(file_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string listed;
    EXPECT_EQ(Accounts("list " + file_, "", &listed), 0);
    EXPECT_EQ(listed, "anna\nbob\n");
    EXPECT_EQ(Accounts("remove " + file_ + " bob", ""), 0);
    EXPECT_NE(Accounts("remove " + file_ + " bob", ""), 0);
    EXPECT_EQ(Accounts("list " + file_, "", &listed), 0);
    EXPECT_EQ(listed, "anna\n");

    // Clear errors for what cannot work.
    std::string error;
    EXPECT_NE(Accounts("add " + file_ + " 'a|b'", "x\n", &error), 0);
    EXPECT_NE(error.find("'|'"), std::string::npos) << error;
    EXPECT_NE(Accounts("add " + file_ + " carol", "", &error), 0);
    EXPECT_NE(Accounts("list " + directory_ + "/missing.db", "", &error), 0);
    EXPECT_NE(error.find("missing.db"), std::string::npos) << error;
}

TEST_F(LoginTest, OnlyTheRightDigestOfAKnownUserGetsIn) {
    ASSERT_EQ(Accounts("add " + file_ + " anna", "secret\n"), 0);
    StartServer({"--accounts", file_});

    // Each refusal says why in the notice line, as its last line before the close; the plug-in is not to
    // try again by itself, since only its pilot can correct the credentials.
    ProtocolClient wrongPassword(address_, 11);
    wrongPassword.Login("anna", "guess");
    EXPECT_EQ(wrongPassword.ReadLine(), "9001|m|Server: login refused: unknown user or wrong password");
    EXPECT_TRUE(wrongPassword.WaitClosed());
    ProtocolClient unknown(address_, 12);
    unknown.Login("mallory", "secret");
    EXPECT_EQ(unknown.ReadLine(), "9001|m|Server: login refused: unknown user or wrong password");
    EXPECT_TRUE(unknown.WaitClosed());
    ProtocolClient malformed(address_, 13);
    malformed.SendLine("13|Opening Connection|anna");
    EXPECT_TRUE(malformed.WaitClosed());
    EXPECT_TRUE(server_->WaitForLog("refused login of 'mallory'"));

    ProtocolClient anna(address_, 14);
    anna.Login("anna", "secret");
    EXPECT_TRUE(LoggedIn(anna));

    // An account added while the server runs counts at once.
    ASSERT_EQ(Accounts("add " + file_ + " bob", "pw\n"), 0);
    ProtocolClient bob(address_, 15);
    bob.Login("bob", "pw");
    EXPECT_TRUE(LoggedIn(bob));
}

TEST_F(LoginTest, AServerNeedsAnAccountsFileOrOpenMode) {
    // Refused before it binds anything.
    std::string command = std::string("'") + testsupport::ServerPath() + "' --address 127.0.0.1 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    char chunk[256] = {};
    std::string text;
    while (std::fgets(chunk, sizeof chunk, pipe)) text += chunk;
    int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(text.find("--open"), std::string::npos) << text;
}

TEST_F(LoginTest, DuplicateIdsAreRefusedAndTheSameUserReplacesItsOldSessionFromAnywhere) {
    StartServer();
    ProtocolClient anna(address_, 21);
    anna.Login("anna");
    ASSERT_TRUE(LoggedIn(anna));

    // Another user under a unique ID already in use: refused with the reason, and Anna is unaffected.
    ProtocolClient other(address_, 21, "");
    other.Login("eve");
    EXPECT_EQ(other.ReadLine(), "9000|m|Server: login refused: unique ID 21 is already logged in");
    EXPECT_TRUE(other.WaitClosed());
    EXPECT_TRUE(LoggedIn(anna));

    // The same user under the same ID from the same address, then under a new ID from a new address (a
    // reconnect after a re-dial, while the dead session has not timed out): each replaces the older one,
    // which is told not to come back by itself, so two machines sharing an account cannot take turns.
    ProtocolClient again(address_, 21);
    again.Login("anna");
    EXPECT_TRUE(LoggedIn(again));
    EXPECT_TRUE(anna.WaitForLine("9001|m|Server: session ended: this user logged in again from elsewhere"));
    EXPECT_TRUE(anna.WaitClosed());
    ProtocolClient redialled(address_, 22, testsupport::UniqueLoopbackAddress());
    redialled.Login("anna");
    EXPECT_TRUE(LoggedIn(redialled));
    EXPECT_TRUE(again.WaitForLine("9001|m|Server: session ended: this user logged in again from elsewhere"));
    EXPECT_TRUE(again.WaitClosed());
    ProtocolClient bob(address_, 23);
    bob.Login("bob");
    EXPECT_TRUE(LoggedIn(bob)) << "other users keep their sessions";
    EXPECT_TRUE(LoggedIn(redialled));
}

TEST_F(LoginTest, RefusalsBeforeAnyLoginSayWhyToo) {
    StartServer({"--open", "--max-clients", "2", "--reserved-clients", "0", "--max-login-failures", "2",
                 "--login-cool-off", "30", "--refusal-delay", "0.1"});
    // The server full: the newcomer is told so, though it never got a place.
    ProtocolClient first(address_, 41), second(address_, 42);
    first.Login("first");
    second.Login("second");
    ASSERT_TRUE(LoggedIn(first));
    ASSERT_TRUE(LoggedIn(second));
    ProtocolClient third(address_, 43);
    EXPECT_EQ(third.ReadLine(), "9000|m|Server: connection refused: the server is full");
    EXPECT_TRUE(third.WaitClosed());
    first.SendLine("41|Closing Connection");
    ASSERT_TRUE(first.WaitClosed());

    // An address locked out after failed logins learns for how long, at its next login or connection.
    std::string guesser = testsupport::UniqueLoopbackAddress();
    for (int i = 0; i < 2; ++i) {
        ProtocolClient guess(address_, 50 + i, guesser);
        guess.SendLine("not a login");
        EXPECT_EQ(guess.ReadLine(), "9000|m|Server: login refused: the first line was not a login");
        EXPECT_TRUE(guess.WaitClosed());
    }
    ProtocolClient locked(address_, 52, guesser);
    auto line = locked.ReadLine();
    ASSERT_TRUE(line.has_value());
    EXPECT_EQ(line->rfind("9000|m|Server: login refused: too many failed logins from this address; locked out for ", 0),
              0u)
        << *line;
    EXPECT_NE(line->find(" 30 s"), std::string::npos) << *line;
    EXPECT_TRUE(locked.WaitClosed());
}

TEST_F(LoginTest, AnythingButALoginAsFirstLineClosesOnlyThatConnection) {
    // Each refusal holds its connection a while before closing it; not for long here.
    StartServer({"--open", "--refusal-delay", "0.2"});
    ProtocolClient anna(address_, 31);
    anna.Login("anna");
    ASSERT_TRUE(LoggedIn(anna));
    for (std::string first : {"GET / HTTP/1.1", "31|MESSAGE|hi", "31|PLANE|a.acf", "|Opening Connection|x|y|",
                              "99999999999|Opening Connection|x|0123|"}) {
        ProtocolClient stranger(address_, 32);
        stranger.SendLine(first);
        EXPECT_TRUE(stranger.WaitClosed()) << first;
    }
    EXPECT_TRUE(server_->WaitForLog("first line is not a login: GET / HTTP/1.1"));
    EXPECT_TRUE(LoggedIn(anna));
}

}  // namespace
}  // namespace servertest
