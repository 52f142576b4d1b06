// The cluster API over Pacemaker, against CIB files read by the real
// Pacemaker client library, and ResUtilFindSzProperty over property lists.
#include <gtest/gtest.h>
#include <string.h>
#include <windows.h>

#include <string>
#include <vector>

#include "cib_file.h"
#include "test_env.h"

namespace {

using nltest::CibPrimitive;

// Closes what a case opened, also when it fails half-way.
struct OpenCib {
    HCLUSTER cluster = OpenCluster(nullptr);
    ~OpenCib() {
        if (cluster) CloseCluster(cluster);
    }
};

std::vector<std::wstring> ResourceNames(HCLUSTER cluster) {
    std::vector<std::wstring> names;
    HCLUSENUM resources = ClusterOpenEnum(cluster, CLUSTER_ENUM_RESOURCE);
    if (!resources) return names;
    for (DWORD index = 0;; ++index) {
        wchar_t name[64];
        DWORD length = 64, type = 0;
        if (ClusterEnum(resources, index, &type, name, &length) != ERROR_SUCCESS) break;
        EXPECT_EQ(type, static_cast<DWORD>(CLUSTER_ENUM_RESOURCE));
        EXPECT_EQ(length, wcslen(name));
        names.push_back(name);
    }
    ClusterCloseEnum(resources);
    return names;
}

// The control output, grown once after ERROR_MORE_DATA as callers do.
std::vector<BYTE> Control(HRESOURCE resource, DWORD code, DWORD* status) {
    std::vector<BYTE> out(8);
    DWORD returned = 0;
    *status = ClusterResourceControl(resource, nullptr, code, nullptr, 0, out.data(),
                                     static_cast<DWORD>(out.size()), &returned);
    if (*status == ERROR_MORE_DATA) {
        out.resize(returned);
        *status =
            ClusterResourceControl(resource, nullptr, code, nullptr, 0, out.data(), returned, &returned);
    }
    out.resize(returned);
    return out;
}

std::wstring ResourceType(HCLUSTER cluster, const wchar_t* name) {
    HRESOURCE resource = OpenClusterResource(cluster, name);
    if (!resource) return L"<no resource>";
    DWORD status = 0;
    std::vector<BYTE> out = Control(resource, CLUSCTL_RESOURCE_GET_RESOURCE_TYPE, &status);
    CloseClusterResource(resource);
    if (status != ERROR_SUCCESS) return L"<failed>";
    return std::wstring(reinterpret_cast<const wchar_t*>(out.data()));
}

// Status and value of ResUtilFindSzProperty on a resource's private properties.
std::pair<DWORD, std::wstring> FindProperty(HCLUSTER cluster, const wchar_t* resourceName,
                                            const wchar_t* property) {
    HRESOURCE resource = OpenClusterResource(cluster, resourceName);
    if (!resource) return {GetLastError(), L""};
    DWORD status = 0;
    std::vector<BYTE> list = Control(resource, CLUSCTL_RESOURCE_GET_PRIVATE_PROPERTIES, &status);
    CloseClusterResource(resource);
    if (status != ERROR_SUCCESS) return {status, L""};
    wchar_t* value = nullptr;
    status = ResUtilFindSzProperty(list.data(), static_cast<DWORD>(list.size()), property, &value);
    std::wstring text = value ? value : L"";
    EXPECT_EQ(LocalFree(value), nullptr);
    return {status, text};
}

TEST(PacemakerCluster, PrimitivesAreTheResourcesInDocumentOrder) {
    nltest::TestEnv env;
    nltest::UseCibFile(
        env, nltest::CibXml(nltest::PrimitiveXml({"ip", "IPaddr2", {}}) + "<group id=\"product\">" +
                            nltest::PrimitiveXml({"data", "Filesystem", {}}) +
                            nltest::PrimitiveXml({"qp", "clusRDLL", {}}) + "</group>" + "<clone id=\"c\">" +
                            nltest::PrimitiveXml({"worker", "clusRDLLCCR", {}}) + "</clone>"));
    OpenCib cib;
    ASSERT_TRUE(cib.cluster) << GetLastError();
    EXPECT_EQ(ResourceNames(cib.cluster), (std::vector<std::wstring>{L"ip", L"data", L"qp", L"worker"}));
    EXPECT_EQ(ResourceType(cib.cluster, L"qp"), L"clusRDLL");
    EXPECT_EQ(ResourceType(cib.cluster, L"worker"), L"clusRDLLCCR");
    // Ids are matched exactly.
    SetLastError(0);
    EXPECT_EQ(OpenClusterResource(cib.cluster, L"QP"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NOT_FOUND));
    // Only resources are enumerated.
    HCLUSENUM nodes = ClusterOpenEnum(cib.cluster, CLUSTER_ENUM_NODE);
    ASSERT_TRUE(nodes);
    wchar_t name[8];
    DWORD length = 8;
    EXPECT_EQ(ClusterEnum(nodes, 0, nullptr, name, &length), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ClusterCloseEnum(nodes);
}

TEST(PacemakerCluster, ANameThatDoesNotFitAsksForItsLength) {
    nltest::TestEnv env;
    std::string longName(300, 'r');
    nltest::UseCibFile(env, nltest::CibXml({{"short", "Dummy", {}}, {longName, "clusRDLL", {}}}));
    OpenCib cib;
    ASSERT_TRUE(cib.cluster);
    HCLUSENUM resources = ClusterOpenEnum(cib.cluster, CLUSTER_ENUM_RESOURCE);
    ASSERT_TRUE(resources);
    std::vector<wchar_t> name(301, L'~');
    DWORD length = 300;  // one short: the terminator needs room too
    EXPECT_EQ(ClusterEnum(resources, 1, nullptr, name.data(), &length), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(length, 300u);
    EXPECT_EQ(name[0], L'~');
    length = 301;
    EXPECT_EQ(ClusterEnum(resources, 1, nullptr, name.data(), &length), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(name.data()), std::wstring(300, L'r'));
    length = 301;
    EXPECT_EQ(ClusterEnum(resources, 2, nullptr, name.data(), &length),
              static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
    ClusterCloseEnum(resources);

    // Control output that does not fit gives its size.
    HRESOURCE resource = OpenClusterResource(cib.cluster, L"short");
    ASSERT_TRUE(resource);
    wchar_t type[2];
    DWORD returned = 0;
    EXPECT_EQ(ClusterResourceControl(resource, nullptr, CLUSCTL_RESOURCE_GET_RESOURCE_TYPE, nullptr, 0, type,
                                     sizeof type, &returned),
              static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(returned, 6 * sizeof(wchar_t));
    EXPECT_EQ(ClusterResourceControl(resource, nullptr, 0x01000001, nullptr, 0, type, sizeof type, &returned),
              static_cast<DWORD>(ERROR_INVALID_FUNCTION));
    CloseClusterResource(resource);
}

TEST(PacemakerCluster, PrivatePropertiesAreTheInstanceAttributesOfAReadableCib) {
    nltest::TestEnv env;
    nltest::UseCibFile(
        env, nltest::CibXml({{"qp", "clusRDLL", {{"QPEX_DATA_PATH", "/srv/qp data"}, {"empty", ""}}},
                             {"bare", "clusRDLL", {}},
                             {"twice", "clusRDLL", {{"path", "/first"}}}}));
    OpenCib cib;
    ASSERT_TRUE(cib.cluster);
    EXPECT_EQ(FindProperty(cib.cluster, L"qp", L"QPEX_DATA_PATH"),
              std::make_pair(static_cast<DWORD>(ERROR_SUCCESS), std::wstring(L"/srv/qp data")));
    // Property names are compared ignoring case, as Windows does.
    EXPECT_EQ(FindProperty(cib.cluster, L"qp", L"qpex_data_path").second, L"/srv/qp data");
    EXPECT_EQ(FindProperty(cib.cluster, L"qp", L"empty"),
              std::make_pair(static_cast<DWORD>(ERROR_SUCCESS), std::wstring()));
    EXPECT_EQ(FindProperty(cib.cluster, L"qp", L"missing").first, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindProperty(cib.cluster, L"bare", L"QPEX_DATA_PATH").first,
              static_cast<DWORD>(ERROR_FILE_NOT_FOUND));

    // Without a readable CIB there is no cluster.
    setenv("CIB_file", env.path("missing.xml").c_str(), 1);
    SetLastError(0);
    EXPECT_EQ(OpenCluster(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));
    nltest::UseCibFile(env, "<cib><configuration>");
    EXPECT_EQ(OpenCluster(nullptr), nullptr);
    // A readable CIB, but another cluster's name.
    nltest::UseCibFile(env, nltest::CibXml(std::string()));
    EXPECT_EQ(OpenCluster(L"elsewhere"), nullptr);
    OpenCib empty;
    EXPECT_TRUE(empty.cluster);
    EXPECT_TRUE(ResourceNames(empty.cluster).empty());
}

// ---- Property lists -----------------------------------------------------------------

class PropertyList {
  public:
    PropertyList() { Dword(0); }
    PropertyList& Property(const std::wstring& name, DWORD syntax, const void* data, DWORD length) {
        ++count_;
        memcpy(bytes_.data(), &count_, sizeof count_);
        Entry(CLUSPROP_SYNTAX_NAME, name.c_str(), static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
        Entry(syntax, data, length);
        Dword(CLUSPROP_SYNTAX_ENDMARK);
        return *this;
    }
    PropertyList& Sz(const std::wstring& name, const std::wstring& value,
                     DWORD syntax = CLUSPROP_SYNTAX_LIST_VALUE_SZ) {
        return Property(name, syntax, value.c_str(),
                        static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    std::vector<BYTE>& bytes() { return bytes_; }

  private:
    void Dword(DWORD value) {
        const BYTE* p = reinterpret_cast<const BYTE*>(&value);
        bytes_.insert(bytes_.end(), p, p + 4);
    }
    void Entry(DWORD syntax, const void* data, DWORD length) {
        Dword(syntax);
        Dword(length);
        const BYTE* p = static_cast<const BYTE*>(data);
        bytes_.insert(bytes_.end(), p, p + length);
        bytes_.resize((bytes_.size() + 3) / 4 * 4, 0);
    }
    std::vector<BYTE> bytes_;
    DWORD count_ = 0;
};

DWORD Find(std::vector<BYTE>& list, const wchar_t* name, std::wstring* value = nullptr) {
    wchar_t* found = nullptr;
    DWORD status = ResUtilFindSzProperty(list.data(), static_cast<DWORD>(list.size()), name, &found);
    if (value) *value = found ? found : L"<none>";
    LocalFree(found);
    return status;
}

TEST(PropertyLists, StringPropertiesAreFoundOthersAreNot) {
    DWORD number = 7;
    PropertyList list;
    list.Property(L"Count", CLUSPROP_SYNTAX_LIST_VALUE_DWORD, &number, sizeof number)
        .Sz(L"Plain", L"text")
        .Sz(L"Expandable", L"%ROOT%\\x", CLUSPROP_SYNTAX_LIST_VALUE_EXPAND_SZ);
    std::wstring value;
    EXPECT_EQ(Find(list.bytes(), L"plain", &value), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(value, L"text");
    EXPECT_EQ(Find(list.bytes(), L"Expandable", &value), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(value, L"%ROOT%\\x");
    EXPECT_EQ(Find(list.bytes(), L"Count"), static_cast<DWORD>(ERROR_INVALID_DATA));
    EXPECT_EQ(Find(list.bytes(), L"Absent"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A null value only tests for the property.
    EXPECT_EQ(ResUtilFindSzProperty(list.bytes().data(), static_cast<DWORD>(list.bytes().size()), L"Plain",
                                    nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(PropertyLists, EveryCutOfAListIsMalformedUntilTheValueIsWhole) {
    PropertyList list;
    list.Sz(L"First", L"one").Sz(L"Wanted", L"two");
    std::vector<BYTE>& bytes = list.bytes();
    // Only the wanted property's end mark follows its value.
    const size_t valueEnd = bytes.size() - 4;
    for (size_t size = 0; size < bytes.size(); ++size) {
        SCOPED_TRACE(size);
        std::vector<BYTE> cut(bytes.begin(), bytes.begin() + size);
        EXPECT_EQ(Find(cut, L"Wanted"),
                  static_cast<DWORD>(size < valueEnd ? ERROR_INVALID_DATA : ERROR_SUCCESS));
    }
    // A count larger than the properties that follow.
    bytes[0] = 9;
    EXPECT_EQ(Find(bytes, L"Absent"), static_cast<DWORD>(ERROR_INVALID_DATA));
    // A length running past the end.
    bytes[0] = 2;
    bytes[8] = 0xFF;
    EXPECT_EQ(Find(bytes, L"Wanted"), static_cast<DWORD>(ERROR_INVALID_DATA));
}

}  // namespace
