// Model matching and the model library: the icaoTypes table, bounded .acf reads, path words, generated files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "simhost/Obj8.h"
#include "tests/support/Paths.h"
#include "tests/support/ScratchDir.h"
#include "traffic/IcaoTypes.h"
#include "traffic/ModelMatch.h"
#include "traffic/TrafficModels.h"

namespace {

std::string Name(const ModelChoice &c) { return TrafficModelInfo(c.model).name; }

TEST(ModelMatch, IcaoTableIsSortedAndReachesEveryModel) {
    std::set<int> models;
    for (const IcaoType *t = IcaoTypesBegin(); t != IcaoTypesEnd(); ++t) {
        if (t + 1 != IcaoTypesEnd()) {
            EXPECT_LT(std::strcmp(t->icao, (t + 1)->icao), 0) << t->icao << " out of order";
        }
        EXPECT_EQ(FindIcaoType(t->icao), t) << t->icao;
        models.insert(t->model);
    }
    EXPECT_EQ(models.size(), static_cast<size_t>(kTrafficModelCount));
    ASSERT_NE(FindIcaoType("b738"), nullptr) << "any case";
    EXPECT_EQ(FindIcaoType("b738")->model, kNarrowBody);
    EXPECT_EQ(FindIcaoType("A388")->wake, WakeCategory::Super);
    for (const char *none : {"", "B73", "B7388", "ZZZZ", "A3"}) EXPECT_EQ(FindIcaoType(none), nullptr) << none;
}

TEST(ModelMatch, AcfCodeThenPathWordsThenDefault) {
    // The installed .acf's code wins over the path, and is announced as it is.
    ModelChoice c = MatchModel("/x/Aircraft/Laminar Research/Cessna 172 SP/Cessna_172SP.acf", "b738");
    EXPECT_EQ(Name(c), "narrow_body");
    EXPECT_EQ(c.icao, "B738");
    EXPECT_EQ(c.source, MatchSource::InstalledAcf);
    // A code the table lacks still goes to TCAS; the model comes from the path.
    c = MatchModel("Aircraft/Heavy Metal/Boeing 747-400/747.acf", "B74Z");
    EXPECT_EQ(Name(c), "wide_body");
    EXPECT_EQ(c.icao, "B74Z");
    EXPECT_EQ(c.source, MatchSource::PathWords);

    struct Case {
        const char *path, *model, *icao;
    } cases[] = {
        {"Aircraft/Laminar Research/Cessna 172 SP/Cessna_172SP.acf", "light_single", ""},
        {"Aircraft/Laminar Research/Cessna 172 SP/C172.acf", "light_single", "C172"},
        {"C:\\Users\\bell\\X-Plane 12\\Aircraft\\Extra Aircraft\\Zibo\\b738.acf", "narrow_body", "B738"},
        {"Aircraft/ToLiss/A321neo/a321.acf", "narrow_body", "A321"},
        {"Aircraft/Laminar Research/Boeing 737-800/b738.acf", "narrow_body", "B738"},
        {"Aircraft/Laminar Research/Robinson R22 Beta II/R22.acf", "helicopter", "R22"},
        {"Aircraft/Laminar Research/Schleicher ASK 21/ASK21.acf", "glider", ""},
        {"Aircraft/Hot Start/Challenger 650/CL650.acf", "business_jet", ""},
        {"Aircraft/Laminar Research/Beechcraft King Air C90B/KingAir.acf", "turboprop", ""},
        {"Aircraft/Laminar Research/Baron B58/Baron_58.acf", "light_twin", ""},
        {"Aircraft/X-Crafts/E175/E175.acf", "regional_jet", "E175"},
        // A keyword says what to draw but not the type: TCAS gets no type rather than a wrong one.
        {"Aircraft/Laminar Research/Airbus A330-300/A330.acf", "wide_body", ""},
        // Nothing recognisable, however the path looks: the default.
        {"Aircraft/My Project/prototype_v2.acf", "light_single", ""},
        {"", "light_single", ""},
        {"/////\\\\\\....acf", "light_single", ""},
    };
    for (const Case &k : cases) {
        c = MatchModel(k.path, "");
        EXPECT_EQ(Name(c), k.model) << k.path;
        EXPECT_EQ(c.icao, k.icao) << k.path;
    }
    EXPECT_EQ(MatchModel("Aircraft/x/y.acf", "").source, MatchSource::Default);
    EXPECT_EQ(MatchModel("Aircraft/x/y.acf", "1ZZ").icao, "") << "a code must start with a letter";
    // A huge path costs bounded work and still gets an answer.
    EXPECT_EQ(Name(MatchModel(std::string(1 << 20, 'a') + "/b738.acf", "")), "light_single");
}

TEST(ModelMatch, AcfReadsAreBoundedAndRefuseWhatIsNotText) {
    testsupport::ScratchDir dir;
    auto write = [&](const std::string &name, const std::string &text) {
        std::ofstream(dir.Root() + "/" + name, std::ios::binary) << text;
        return dir.Root() + "/" + name;
    };
    std::string head = "I\n1100 Version\nACF\n\nP acf/_name Test\n";
    EXPECT_EQ(ReadAcfIcao(write("plain.acf", head + "P acf/_ICAO c172\r\nP acf/_tailnum N1\n")), "C172");
    EXPECT_EQ(ReadAcfIcao(write("none.acf", head + "P acf/_ICAOX B738\nPP acf/_ICAO B738\n")), "");
    EXPECT_EQ(ReadAcfIcao(write("bad.acf", head + "P acf/_ICAO Boeing737\n")), "");
    EXPECT_EQ(ReadAcfIcao(write("binary.acf", head + std::string(1, '\0') + "\nP acf/_ICAO B738\n")), "");
    std::string padding(kAcfReadLimit, 'x');
    EXPECT_EQ(ReadAcfIcao(write("far.acf", head + padding + "\nP acf/_ICAO B738\n")), "") << "beyond the bound";
    std::string cut = head + std::string(kAcfReadLimit - head.size() - 15, 'x') + "\nP acf/_ICAO B7";
    EXPECT_EQ(ReadAcfIcao(write("cut.acf", cut + "38M\n")), "") << "a code cut by the bound is not trusted";
    EXPECT_EQ(ReadAcfIcao(dir.Root()), "") << "a directory";
    EXPECT_EQ(ReadAcfIcao(dir.Root() + "/missing.acf"), "");
    std::string fifo = dir.Root() + "/fifo.acf";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadAcfIcao(fifo), "") << "a FIFO without a writer is not waited on";

    // The whole choice: a peer's path from another machine, found in this installation.
    std::string folder = dir.Root() + "/Aircraft/Zibo";
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/plane.acf") << head << "P acf/_ICAO B38M\n";
    ModelChoice c = ChooseModel("D:\\Sims\\X-Plane 12\\Aircraft\\Zibo\\plane.acf", dir.Root() + "/");
    EXPECT_EQ(c.icao, "B38M");
    EXPECT_EQ(c.source, MatchSource::InstalledAcf);
    EXPECT_EQ(DescribeChoice(c), "narrow_body (B38M, from the .acf)");
    EXPECT_EQ(ChooseModel("/elsewhere/Aircraft/../../etc/passwd.acf", dir.Root() + "/").source, MatchSource::Default);
}

// The generated library: every model the table names is there, passes the host's OBJ8 check with only
// the plug-in's own data refs, touches the ground at the table's wheel height, and stays small.
TEST(ModelMatch, GeneratedModelsPassTheHostsCheckAndAgreeWithTheTable) {
    const std::string dir = testsupport::ModelsDir();
    std::set<std::string> ours(kTrafficDataRefs, kTrafficDataRefs + kTrafficDataRefCount);
    long totalBytes = 0;
    for (int id = 0; id < kTrafficModelCount; ++id) {
        const TrafficModel &m = TrafficModelInfo(id);
        std::ifstream in(dir + "/" + m.name + ".obj", std::ios::binary);
        ASSERT_TRUE(in) << m.name;
        std::stringstream text;
        text << in.rdbuf();
        totalBytes += static_cast<long>(text.str().size());
        simhost::Obj8Mesh mesh;
        std::string error;
        ASSERT_TRUE(simhost::ParseObj8(
            text.str(), [&](const std::string &n) { return ours.count(n) > 0; }, mesh, error))
            << m.name << ": " << error;
        EXPECT_GE(mesh.triangles, 100) << m.name;
        EXPECT_LE(mesh.triangles, 800) << m.name;
        EXPECT_EQ(mesh.texture, "palette.png");
        float lowest = 0;
        for (size_t i = 1; i < mesh.vertices.size(); i += 3) lowest = std::min(lowest, mesh.vertices[i]);
        EXPECT_NEAR(lowest, -m.wheelHeight, 0.01) << m.name << ": the wheels touch the ground";
        auto uses = [&](const char *ref) {
            return std::find(mesh.datarefs.begin(), mesh.datarefs.end(), ref) != mesh.datarefs.end();
        };
        const bool propeller = id == kLightSingle || id == kLightTwin || id == kTurboprop || id == kHelicopter;
        EXPECT_EQ(uses("skorvale/traffic/prop_deg"), propeller) << m.name << ": propellers and rotors turn";
        EXPECT_EQ(uses("skorvale/traffic/gear"), id != kHelicopter) << m.name << ": wheels retract, skids stay";
        EXPECT_TRUE(uses("skorvale/traffic/nav") && uses("skorvale/traffic/beacon") &&
                    uses("skorvale/traffic/strobe") && uses("skorvale/traffic/landing") &&
                    uses("skorvale/traffic/taxi"))
            << m.name << ": every light switches";
    }
    EXPECT_LT(totalBytes, 2 * 1024 * 1024);
    std::ifstream png(dir + "/palette.png", std::ios::binary);
    char magic[8] = {};
    png.read(magic, 8);
    EXPECT_EQ(std::string(magic, 8), std::string("\x89PNG\r\n\x1a\n", 8));
}

}  // namespace
