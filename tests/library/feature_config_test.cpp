// CFeatureConfig: how the disabled lists are read, and where the data root
// (and so the feature mapping file) is found, on a single server and on a
// Pacemaker cluster node (CIB files read by the real Pacemaker client
// library). What the mapping silences is the filtering scripts' concern.
#include "FeatureConfig.h"

#include "nltest.h"

using namespace dbg_internal;

namespace {

using namespace nltest;

using Names = std::vector<std::wstring>;

TEST(DisabledNameLists, NamesAreLowerCasedSortedAndUnique) {
    const struct {
        std::wstring text;
        Names names;
    } cases[] = {
        {L"MyModule.DLL;other.dll", {L"mymodule.dll", L"other.dll"}},
        {L"b.so;;A.so;b.SO;", {L"a.so", L"b.so"}},
        // Blanks are kept: the second name matches no logger.
        {L"a.dll; b.dll", {L" b.dll", L"a.dll"}},
        {L"", {}},
        {L";;;", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(CFeatureConfig::SplitNameList(c.text), c.names);
}

// ---- Data root -------------------------------------------------------------------------------

bool ClusterLibraryLoaded() { return ReadFile("/proc/self/maps").find("libnlclusapi") != std::string::npos; }

class DataRoot : public ::testing::Test {
  protected:
    void SetUp() override { unsetenv("CIB_file"); }
    std::wstring Resolved() {
        CFeatureConfig config;
        config.ResolveMappingFilePath();
        return config.MappingFilePath();
    }
    void UseCluster(const std::vector<CibPrimitive>& primitives) {
        ASSERT_TRUE(SetRegistryDword(L"IsCluster", 1));
        UseCibFile(env_, CibXml(primitives));
    }
    TestEnv env_;
};

TEST_F(DataRoot, DataRootPathWithOrWithoutATrailingSeparator) {
    EXPECT_EQ(Resolved(), L"");
    const struct {
        std::wstring value, path;
    } cases[] = {
        {L"/srv/qp", L"/srv/qp/config/dbglog_FeatureMapping.ini"},
        {L"/srv/qp/", L"/srv/qp/config/dbglog_FeatureMapping.ini"},
        // Nothing is expanded.
        {L"%ProgramData%/qp", L"%ProgramData%/qp/config/dbglog_FeatureMapping.ini"},
        {L"", L""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(SetRegistryString(L"DataRootPath", c.value));
        EXPECT_EQ(Resolved(), c.path);
    }
    // A cluster node whose product resource names no data root, and no DataRootPath.
    UseCluster({{"a", "clusRDLL", {}}});
    EXPECT_EQ(Resolved(), L"");
    // Too long for the buffer: no data root rather than a cut one.
    ASSERT_TRUE(SetRegistryString(L"DataRootPath", L"/" + std::wstring(2100, L'd')));
    EXPECT_EQ(Resolved(), L"");
}

TEST_F(DataRoot, WithoutIsClusterNothingOfTheClusterIsLoaded) {
    ASSERT_TRUE(SetRegistryString(L"DataRootPath", L"/srv/single"));
    UseCibFile(env_, CibXml({{"qp", "clusRDLL", {{"QPEX_DATA_PATH", "/srv/cluster"}}}}));
    EXPECT_EQ(Resolved(), L"/srv/single/config/dbglog_FeatureMapping.ini");
    ASSERT_TRUE(SetRegistryDword(L"IsCluster", 0));
    EXPECT_EQ(Resolved(), L"/srv/single/config/dbglog_FeatureMapping.ini");
    EXPECT_FALSE(ClusterLibraryLoaded());
    ASSERT_TRUE(SetRegistryDword(L"IsCluster", 1));
    EXPECT_EQ(Resolved(), L"/srv/cluster/config/dbglog_FeatureMapping.ini");
    EXPECT_TRUE(ClusterLibraryLoaded());
    // A node that cannot read its cluster falls back to DataRootPath.
    setenv("CIB_file", env_.path("no-cib.xml").c_str(), 1);
    EXPECT_EQ(Resolved(), L"/srv/single/config/dbglog_FeatureMapping.ini");
}

// A case of data/library/data_roots.txt (its header says how they read).
TEST_F(DataRoot, TheFirstProductResourceDecides) {
    ASSERT_TRUE(SetRegistryString(L"DataRootPath", L"/srv/fallback"));
    for (const Row& row : ReadRows("library/data_roots.txt", true)) {
        SCOPED_TRACE(row[0].substr(0, 80));
        std::vector<CibPrimitive> primitives;
        std::istringstream resources(row[0]);
        for (std::string resource; std::getline(resources, resource, ';');) {
            std::istringstream words(resource);
            primitives.emplace_back();
            words >> primitives.back().id >> primitives.back().type;
            for (std::string a; words >> a;)
                primitives.back().attributes.push_back({a.substr(0, a.find('=')), a.substr(a.find('=') + 1)});
        }
        UseCluster(primitives);
        EXPECT_EQ(Resolved(), Wide(row[1]) + L"/config/dbglog_FeatureMapping.ini");
    }
}

}  // namespace
