// The cluster API over Pacemaker, against CIB files read by the real
// Pacemaker client library, and ResUtilFindSzProperty over property lists:
// the calls of data/cluster/calls.txt.
#include "nltest.h"

namespace {

const std::map<std::string, DWORD> kStatuses = {{"ok", ERROR_SUCCESS},
                                                {"more-data", ERROR_MORE_DATA},
                                                {"no-more", ERROR_NO_MORE_ITEMS},
                                                {"not-found", ERROR_FILE_NOT_FOUND},
                                                {"no-resource", ERROR_RESOURCE_NOT_FOUND},
                                                {"bad-function", ERROR_INVALID_FUNCTION},
                                                {"unavailable", RPC_S_SERVER_UNAVAILABLE},
                                                {"invalid-data", ERROR_INVALID_DATA}};

std::string StatusName(DWORD status) {
    for (const auto& [name, value] : kStatuses)
        if (value == status) return name;
    return std::to_string(status);
}

// The control output, grown once after ERROR_MORE_DATA as callers do.
std::vector<BYTE> Control(HRESOURCE resource, DWORD code, DWORD* status) {
    std::vector<BYTE> out(8);
    DWORD returned = 0;
    *status = ClusterResourceControl(resource, nullptr, code, nullptr, 0, out.data(), 8, &returned);
    if (*status == ERROR_MORE_DATA) {
        out.resize(returned);
        *status =
            ClusterResourceControl(resource, nullptr, code, nullptr, 0, out.data(), returned, &returned);
    }
    out.resize(returned);
    return out;
}

// The ClusterEnum walk of an enumeration, shown as the table writes it; odd
// indexes ask for no type.
std::string Walk(HCLUSENUM enumeration, DWORD size, DWORD kind) {
    std::string shown;
    for (DWORD index = 0, status = ERROR_SUCCESS;
         index < 16 && (status == ERROR_SUCCESS || status == ERROR_MORE_DATA); ++index) {
        std::vector<wchar_t> name(size + 1, L'~');
        DWORD length = size, type = 0;
        status = ClusterEnum(enumeration, index, index % 2 ? nullptr : &type, name.data(), &length);
        if (status == ERROR_SUCCESS) {
            EXPECT_EQ(type, index % 2 ? 0 : kind);
            EXPECT_EQ(length, wcslen(name.data()));
            shown += std::string(name.begin(), name.begin() + length) + "|";
        } else {
            EXPECT_EQ(name[0], L'~');  // a name that does not fit leaves the buffer alone
            shown +=
                StatusName(status) + (status == ERROR_MORE_DATA ? " " + std::to_string(length) + "|" : "");
        }
    }
    return shown;
}

TEST(PacemakerCluster, CallsGiveWhatTheTableSays) {
    nltest::TestEnv env;
    HCLUSTER cluster = nullptr;
    std::vector<BYTE> list;
    for (const nltest::Row& row : nltest::ReadRows("cluster/calls.txt", true)) {
        SCOPED_TRACE(row[0] + " " + row[1].substr(0, 60));
        const std::string& op = row[0];
        const std::wstring name = nltest::Wide(row[1]);
        if (op == "cib" || op == "cibfile") {
            if (row[1] == "none")
                setenv("CIB_file", env.path("missing.xml").c_str(), 1);
            else
                nltest::UseCibFile(env, op == "cib" ? nltest::CibXml(row[1]) : row[1]);
        } else if (op == "open") {
            if (cluster) CloseCluster(cluster);
            SetLastError(0);
            cluster = OpenCluster(row[1] == "-" ? nullptr : name.c_str());
            EXPECT_EQ(row[2], StatusName(cluster ? ERROR_SUCCESS : GetLastError()));
        } else if (op == "enum") {
            const DWORD kind = row[1] == "node" ? CLUSTER_ENUM_NODE : CLUSTER_ENUM_RESOURCE;
            HCLUSENUM enumeration = ClusterOpenEnum(cluster, kind);
            ASSERT_TRUE(enumeration);
            EXPECT_EQ(row[3], Walk(enumeration, std::stoul(row[2]), kind));
            ClusterCloseEnum(enumeration);
        } else if (op == "list") {
            list.clear();
            std::istringstream words(row[1]);
            for (DWORD word; words >> std::hex >> word;)
                list.insert(list.end(), reinterpret_cast<BYTE*>(&word), reinterpret_cast<BYTE*>(&word + 1));
        } else if (op == "cuts") {
            for (size_t size = 0; size < list.size(); ++size) {
                std::vector<BYTE> cut(list.begin(), list.begin() + size);
                EXPECT_EQ(size < list.size() - 4 ? "invalid-data" : "ok",
                          StatusName(ResUtilFindSzProperty(cut.data(), size, name.c_str(), nullptr)))
                    << size;
            }
        } else {
            SetLastError(0);
            HRESOURCE resource = row[1] == "-" ? nullptr : OpenClusterResource(cluster, name.c_str());
            DWORD status = resource || row[1] == "-" ? ERROR_SUCCESS : GetLastError();
            std::vector<BYTE> out = list;
            if (resource && op == "control") {
                out.resize(std::stoul(row[3]));
                DWORD returned = 0;
                status = ClusterResourceControl(resource, nullptr, std::stoul(row[2], nullptr, 16), nullptr,
                                                0, out.data(), static_cast<DWORD>(out.size()), &returned);
                EXPECT_EQ(row[5] == "-" ? returned : std::stoul(row[5]), returned);
            } else if (resource) {
                out = Control(resource,
                              op == "type" ? CLUSCTL_RESOURCE_GET_RESOURCE_TYPE
                                           : CLUSCTL_RESOURCE_GET_PRIVATE_PROPERTIES,
                              &status);
            }
            if (resource) CloseClusterResource(resource);
            if (op == "type") {
                EXPECT_EQ(nltest::Wide(row[2]), status ? nltest::Wide(StatusName(status))
                                                       : reinterpret_cast<const wchar_t*>(out.data()));
            } else if (op == "control") {
                EXPECT_EQ(row[4], StatusName(status));
            } else if (op == "prop") {
                ASSERT_EQ(ERROR_SUCCESS, status);
                wchar_t* value = nullptr;
                status =
                    ResUtilFindSzProperty(out.data(), static_cast<DWORD>(out.size()),
                                          nltest::Wide(row[2]).c_str(), row[4] == "-" ? nullptr : &value);
                EXPECT_EQ(row[3], StatusName(status));
                EXPECT_EQ(row[4] == "-" ? L"" : nltest::Wide(row[4]), value ? value : L"");
                EXPECT_EQ(LocalFree(value), nullptr);
            } else {
                ADD_FAILURE() << "unknown call " << op;
            }
        }
    }
    if (cluster) CloseCluster(cluster);
}

}  // namespace
