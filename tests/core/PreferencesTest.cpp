// The settings file as the user's disk sees it: exact bytes written, what reads back, what is ignored.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <clocale>
#include <string>

#include "core/Preferences.h"
#include "core/SkorvaleSE.h"
#include "tests/support/ScratchDir.h"

namespace {

const char kFile[] = "Resources/plugins/svprefs.txt";

void SetSettings(const std::string &callsign, const std::string &user, const std::string &pass, int mode, int position,
                 const std::string &crew, int connect) {
    myCallsign = callsign;
    userID = user;
    password = pass;
    flightMode = mode;
    cockpitPosition = position;
    crewID = crew;
    connectAtStartup = connect;
    smoothTraffic = 0;
    serverSetting.clear();
}

void ClearSettings() { SetSettings("", "", "", 0, 0, "", 0); }

unsigned Mode(const std::string &path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return 0;
    return info.st_mode & 07777;
}

class Preferences : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.Ok());
        ClearSettings();
    }
    // Writes `bytes` as the settings file and reads it into freshly cleared settings.
    void LoadFrom(const std::string &bytes) {
        ASSERT_TRUE(dir.Write(kFile, bytes));
        ClearSettings();
        LoadPreferences();
    }
    testsupport::ScratchDir dir;
};

TEST_F(Preferences, WritesTheDocumentedBytesPrivatelyAndReadsThemBack) {
    SetSettings("ACE1", "1234", "", 1, 2, "C7", 1);
    SavePreferences();
    const std::string expected =
        "callsign=ACE1;userID=1234;password=;flightMode=1;cockpitPosition=2;crewID=C7;connectAtStartup=1;";
    EXPECT_EQ(expected.size(), 96u);
    EXPECT_EQ(dir.Read(kFile), expected);
    // It holds the password in plain text: a file the plug-in creates is for its owner only.
    EXPECT_EQ(Mode(dir.Path(kFile)), 0600u);

    ClearSettings();
    LoadPreferences();
    EXPECT_EQ(myCallsign, "ACE1");
    EXPECT_EQ(userID, "1234");
    EXPECT_EQ(password, "");
    EXPECT_EQ(flightMode, 1);
    EXPECT_EQ(cockpitPosition, 2);
    EXPECT_EQ(crewID, "C7");
    EXPECT_EQ(connectAtStartup, 1);

    // Arbitrary bytes (no ";" or line feed, no blanks at either end) survive a round trip, under a locale
    // with other number rules too.
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr);
    SetSettings("Jäger 7 =x", "spa ced", "p@ss\r\tw=rd", 0, 3, "crew=\x01\xff", -1234567);
    SavePreferences();
    ClearSettings();
    LoadPreferences();
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(myCallsign, "Jäger 7 =x");
    EXPECT_EQ(userID, "spa ced");
    EXPECT_EQ(password, "p@ss\r\tw=rd");
    EXPECT_EQ(flightMode, 0);
    EXPECT_EQ(cockpitPosition, 3);
    EXPECT_EQ(crewID, "crew=\x01\xff");
    EXPECT_EQ(connectAtStartup, -1234567);
    EXPECT_NE(dir.Read(kFile).find("connectAtStartup=-1234567;"), std::string::npos);
}

TEST_F(Preferences, RewritingKeepsTheOwnersPermissionsAndTruncates) {
    ASSERT_TRUE(dir.Write(kFile, std::string(500, 'x')));
    ASSERT_EQ(chmod(dir.Path(kFile).c_str(), 0640), 0);
    SetSettings("A", "", "", 0, 0, "", 0);
    SavePreferences();
    EXPECT_EQ(Mode(dir.Path(kFile)), 0640u);
    EXPECT_EQ(dir.Read(kFile),
              "callsign=A;userID=;password=;flightMode=0;cockpitPosition=0;crewID=;connectAtStartup=0;");
}

TEST_F(Preferences, NegativeCodesAreReadAsStoredButSavedAsZero) {
    LoadFrom("flightMode=-3;cockpitPosition=-1;connectAtStartup=-2;");
    EXPECT_EQ(flightMode, -3);
    EXPECT_EQ(cockpitPosition, -1);
    EXPECT_EQ(connectAtStartup, -2);
    SavePreferences();
    EXPECT_EQ(flightMode, 0);
    EXPECT_EQ(cockpitPosition, 0);
    EXPECT_EQ(dir.Read(kFile),
              "callsign=;userID=;password=;flightMode=0;cockpitPosition=0;crewID=;connectAtStartup=-2;");
}

TEST_F(Preferences, IntegersFollowAtoiButSaturate) {
    LoadFrom("flightMode=abc;cockpitPosition= 7x;connectAtStartup=+42;");
    EXPECT_EQ(flightMode, 0);
    EXPECT_EQ(cockpitPosition, 7);
    EXPECT_EQ(connectAtStartup, 42);

    LoadFrom("flightMode=99999999999999999999;cockpitPosition=-4294967297;connectAtStartup=\t-0012;");
    EXPECT_EQ(flightMode, INT_MAX);
    EXPECT_EQ(cockpitPosition, INT_MIN);
    EXPECT_EQ(connectAtStartup, -12);

    LoadFrom("flightMode=2147483647;cockpitPosition=-2147483648;connectAtStartup=;");
    EXPECT_EQ(flightMode, INT_MAX);
    EXPECT_EQ(cockpitPosition, INT_MIN);
    EXPECT_EQ(connectAtStartup, 0);
}

TEST_F(Preferences, KeysMatchExactlyAndLaterEntriesWin) {
    LoadFrom("CallSign=no; callsign=no;colour=red;callsign=first;userID=u=v;callsign=last;crewID=;crewID=\r7;");
    EXPECT_EQ(myCallsign, "last");
    EXPECT_EQ(userID, "u=v");  // a value runs to the first ";" and may hold "="
    EXPECT_EQ(crewID, "\r7");  // a carriage return is an ordinary byte

    // A ";" inside a value ends it; the rest, without "=", is skipped.
    LoadFrom("callsign=AB;CD;userID=anna;password=pw;");
    EXPECT_EQ(myCallsign, "AB");
    EXPECT_EQ(userID, "anna");
    EXPECT_EQ(password, "pw");

    // A key this build does not know is skipped, as older builds skip "smoothTraffic".
    LoadFrom("smoothTraffic=1;smoothTrafficDelay=40;callsign=X;");
    EXPECT_EQ(smoothTraffic, 1);
    EXPECT_EQ(myCallsign, "X");
    SavePreferences();
    EXPECT_EQ(
        dir.Read(kFile),
        "callsign=X;userID=;password=;flightMode=0;cockpitPosition=0;crewID=;connectAtStartup=0;smoothTraffic=1;");
}

TEST_F(Preferences, AFileEditedByHandReadsAsMeantAndTheServerIsWrittenOnlyWhenChosen) {
    // One entry a line as Notepad saves it (a byte-order mark, CRLF, blanks around "=", no ";"), and as
    // TextEdit does (LF, the last line without its line end).
    LoadFrom(
        "\xEF\xBB\xBF"
        "callsign = ANNA1\r\nuserID=anna ;\r\n\r\n# a comment line\r\npassword =  pw 2\r\n"
        "server = relay.example.org:49600\r\n");
    EXPECT_EQ(myCallsign, "ANNA1");
    EXPECT_EQ(userID, "anna");
    EXPECT_EQ(password, "pw 2");
    EXPECT_EQ(serverSetting, "relay.example.org:49600");
    LoadFrom("callsign=B\nflightMode = 1\ncrewID=\r7");
    EXPECT_EQ(myCallsign, "B");
    EXPECT_EQ(flightMode, 1);
    EXPECT_EQ(crewID, "\r7");  // a carriage return not before a line feed is an ordinary byte

    // The chosen server goes last; the built-in one, or none, is not written, so the file stays as an
    // older plug-in wrote it.
    userID = "anna";
    password = "pw 2";
    serverSetting = "relay.example.org:49600";
    SavePreferences();
    EXPECT_EQ(dir.Read(kFile),
              "callsign=B;userID=anna;password=pw 2;flightMode=1;cockpitPosition=0;crewID=\r7;"
              "connectAtStartup=0;server=relay.example.org:49600;");
    for (std::string builtIn : {std::string(), std::string(SKORVALE_SERVER_ADDRESS)}) {
        serverSetting = builtIn;
        SavePreferences();
        EXPECT_EQ(dir.Read(kFile).find("server="), std::string::npos);
    }

    // Our models and the labels likewise: written only where they differ from the defaults, and a label
    // range out of 1..100 is brought into it.
    LoadFrom("trafficModels=1;trafficLabels=0;labelRangeKm=250;labelDetails=7;");
    EXPECT_EQ(trafficModels, 1);
    EXPECT_EQ(trafficLabels, 0);
    EXPECT_EQ(labelRangeKm, 100);
    EXPECT_EQ(labelDetails, 1);
    SavePreferences();
    EXPECT_NE(dir.Read(kFile).find("trafficModels=1;trafficLabels=0;labelRangeKm=100;labelDetails=1;"),
              std::string::npos);
    LoadFrom("labelRangeKm=-5;");
    EXPECT_EQ(labelRangeKm, 1);
    trafficModels = labelDetails = 0;
    trafficLabels = 1;
    labelRangeKm = kDefaultLabelRangeKm;
    SavePreferences();
    for (const char *key : {"trafficModels", "trafficLabels", "labelRangeKm", "labelDetails"})
        EXPECT_EQ(dir.Read(kFile).find(key), std::string::npos) << key;

    LoadFrom(std::string("callsign=A;userID=B\0C;password=P;", 33));  // a NUL ends the text
    EXPECT_EQ(myCallsign, "A");
    EXPECT_EQ(userID, "B");
    EXPECT_EQ(password, "");

    // The first 4096 bytes count: an entry cut off there is not applied.
    std::string head = "userID=abc;";
    std::string fits = head + "pad=" + std::string(4096 - head.size() - 4 - 10, 'p') + ";crewID=Z;";
    ASSERT_EQ(fits.size(), 4096u);
    LoadFrom(fits + "callsign=after;");
    EXPECT_EQ(userID, "abc");
    EXPECT_EQ(crewID, "Z");
    EXPECT_EQ(myCallsign, "");
    LoadFrom(fits.substr(0, 4094) + "ZZ;");
    EXPECT_EQ(crewID, "");
}

TEST_F(Preferences, NothingChangesWithoutAUsableFile) {
    SetSettings("keep", "me", "pw", 1, 2, "C", 1);
    LoadPreferences();  // no file yet
    EXPECT_EQ(myCallsign, "keep");

    for (const char *bytes : {"", "no equals sign here;", "=;"}) {
        ASSERT_TRUE(dir.Write(kFile, bytes));
        SetSettings("keep", "me", "pw", 1, 2, "C", 1);
        LoadPreferences();
        EXPECT_EQ(myCallsign, "keep") << bytes;
        EXPECT_EQ(userID, "me") << bytes;
        EXPECT_EQ(flightMode, 1) << bytes;
    }

    // A FIFO (which a plain open would wait on for ever) or a directory under the file's name is not
    // read, and the start goes on at once; the alarm ends a hung run instead of the suite's timeout.
    ASSERT_EQ(unlink(dir.Path(kFile).c_str()), 0);
    ASSERT_EQ(mkfifo(dir.Path(kFile).c_str(), 0600), 0);
    alarm(30);
    LoadPreferences();
    alarm(0);
    EXPECT_EQ(myCallsign, "keep");
    ASSERT_EQ(unlink(dir.Path(kFile).c_str()), 0);
    ASSERT_EQ(mkdir(dir.Path(kFile).c_str(), 0700), 0);
    LoadPreferences();
    EXPECT_EQ(myCallsign, "keep");

    // A file that cannot be created is silently not written, and the settings stay as they were.
    testsupport::ScratchDir bare;
    ASSERT_TRUE(bare.Ok());
    ASSERT_EQ(rmdir(bare.Path("Resources/plugins").c_str()), 0);
    SetSettings("keep", "me", "pw", -1, -2, "C", 1);
    SavePreferences();
    EXPECT_FALSE(bare.Exists(kFile));
    EXPECT_EQ(flightMode, -1);
    EXPECT_EQ(cockpitPosition, -2);
}

}  // namespace
