// Loading plug-in modules: fresh globals per load, the entry functions in order, and clear refusals.
#include <fstream>

#include "HostFixture.h"
#include "TinyModules.h"

namespace {

using simhosttest::HostTest;
using simhosttest::TinyPlugin;

TEST_F(HostTest, EachLoadIsAFreshModuleWithItsOwnGlobals) {
    std::string error;
    auto first = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(first) << error;
    ASSERT_EQ(first->Start(), 1);
    EXPECT_EQ(first->Name(), "Tiny");
    EXPECT_EQ(first->Signature(), "skorvale.test.tiny");
    EXPECT_EQ(first->Description(), "starts 1");
    EXPECT_EQ(first->Enable(), 1);
    EXPECT_EQ(host.Windows().size(), 1u);
    EXPECT_EQ(host.FlightLoops().size(), 1u);

    // The same file again, while the first is still loaded: a separate copy, counting from zero.
    auto second = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(second) << error;
    second->Start();
    EXPECT_EQ(second->Description(), "starts 1");
    EXPECT_EQ(host.Windows().size(), 2u);

    // Destruction disables and stops: callbacks and windows go.
    first.reset();
    second.reset();
    EXPECT_TRUE(host.Windows().empty());
    EXPECT_TRUE(host.FlightLoops().empty());
    EXPECT_TRUE(host.KeySniffers().empty());
    EXPECT_TRUE(host.Widgets().empty());
    auto third = simhost::LoadedPlugin::Load(TinyPlugin(), error);
    ASSERT_TRUE(third) << error;
    third->Start();
    EXPECT_EQ(third->Description(), "starts 1");
}

TEST_F(HostTest, LoadRefusesWhatIsNotAPlugInWithOneLineReasons) {
    std::string error;
    EXPECT_FALSE(simhost::LoadedPlugin::Load("/nonexistent/Skorvale.xpl", error));
    EXPECT_NE(error.find("/nonexistent/Skorvale.xpl"), std::string::npos) << error;

    std::string junk = testing::TempDir() + "/junk.xpl";
    std::ofstream(junk) << "not an ELF file";
    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(junk, error));
    EXPECT_NE(error.find("not a loadable module"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(simhosttest::PartialPlugin(), error));
    EXPECT_NE(error.find("XPluginReceiveMessage"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(simhosttest::HostLibraryPath(), error)) << "a library, not a plug-in";
    EXPECT_NE(error.find("XPluginStart"), std::string::npos) << error;

    error.clear();
    EXPECT_FALSE(simhost::LoadedPlugin::Load(testing::TempDir(), error)) << "a directory";
    EXPECT_FALSE(error.empty());
    for (const std::string &e : {error}) EXPECT_EQ(e.find('\n'), std::string::npos);
}

}  // namespace
