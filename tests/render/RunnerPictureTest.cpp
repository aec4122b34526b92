// skorvale-host --screenshot: pictures at the asked simulated times, at the screen size, and clear refusals.
#include <stdlib.h>

#include <fstream>

#include "gtest/gtest.h"
#include "tests/support/Command.h"
#include "tests/support/Paths.h"

namespace {

using Result = testsupport::CommandResult;
using testsupport::ReadFile;

// Width and height from a PNG's header, or {0, 0} when the file is no PNG.
std::pair<int, int> PngSize(const std::string &bytes) {
    if (bytes.size() < 24 || bytes.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto word = [&](size_t at) {
        int v = 0;
        for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return {word(16), word(20)};
}

class RunnerPicture : public ::testing::Test {
protected:
    void SetUp() override {
        dir = testsupport::MakeTempDir("picture");
        ASSERT_FALSE(dir.empty());
        std::ofstream(dir + "/script") << "1 menu Skorvale/Toggle Plane List\n1.5 key Tab\n";
    }
    void TearDown() override { testsupport::RemoveTree(dir); }

    Result Run(const std::string &args) {
        return testsupport::RunCaptured(std::string("'") + testsupport::HostPath() + "' --plugin '" +
                                            testsupport::PluginPath() + "' --dir '" + dir + "' --script '" + dir +
                                            "/script' --seconds 3 " + args,
                                        dir);
    }

    std::string dir;
};

TEST_F(RunnerPicture, WritesEachPictureAtItsTimeAtTheScreenSizeAndAlike) {
    Result r = Run("--screen 640x480 --screenshot '" + dir + "/early.png' --screenshot-at 0.5 --screenshot '" + dir +
                   "/end.png'");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("picture: " + dir + "/early.png\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("picture: " + dir + "/end.png\n"), std::string::npos) << r.out;
    std::string early = ReadFile(dir + "/early.png"), end = ReadFile(dir + "/end.png");
    EXPECT_EQ(PngSize(early), std::make_pair(640, 480));
    EXPECT_EQ(PngSize(end), std::make_pair(640, 480));
    // Before the plane list and chat opened, the picture is another one than at the end.
    EXPECT_NE(early, end);

    // The same run again gives the same bytes.
    Result again = Run("--screen 640x480 --screenshot '" + dir + "/end2.png'");
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(ReadFile(dir + "/end2.png"), end);
}

TEST_F(RunnerPicture, RefusesBadRequestsBeforeRunningAndReportsFailedWrites) {
    struct Case {
        std::string args, mentions;
    };
    const Case cases[] = {
        {"--screenshot '" + dir + "/missing/x.png'", dir + "/missing"},
        {"--screenshot '" + dir + "/x.png' --screenshot-at 9", "outside the run"},
        {"--screenshot '" + dir + "/x.png' --screenshot-at -1", "outside the run"},
        {"--screenshot-at 1", "--screenshot-at"},
        {"--screenshot '" + dir + "/x.png' --screenshot '" + dir + "/x.png'", "twice"},
        {"--screenshot '" + dir + "/a.png' '" + dir + "/b.png'", "b.png"},
    };
    for (const Case &c : cases) {
        Result r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2) << c.args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.mentions), std::string::npos) << c.args << "\n" << r.err;
        EXPECT_EQ(r.out, "") << c.args;  // nothing ran
        EXPECT_FALSE(std::ifstream(dir + "/x.png").good());
    }
    // A folder where the file should go: the run happens, the failure is named and the exit says so.
    Result r = Run("--screenshot '" + dir + "'");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot write picture " + dir), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("picture:"), std::string::npos);
}

}  // namespace
