// The .reg reader, and the round trip through the registry: a file that reads
// and imports is exported; that export must read, import into an empty
// registry and export again to the very same bytes.
#include <windows.h>

#include "fuzz_support.h"
#include "operations.h"
#include "reg_file.h"

namespace {

// Imports the steps into an empty registry and exports everything.
bool ImportAndExport(const std::vector<qpreg::ImportStep>& steps, qpreg::Bytes* exported) {
    nlfuzz::FreshRegistry();
    int failedLine = 0;
    if (qpreg::ApplyImport(steps, &failedLine) != ERROR_SUCCESS) return false;
    std::vector<qpreg::RegFileKey> keys;
    FUZZ_CHECK(qpreg::ReadKeyTree(qpreg::KeyPath(), &keys) == ERROR_SUCCESS);
    *exported = qpreg::WriteRegFile(keys);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qpreg::Bytes content(data, data + size);
    std::vector<qpreg::ImportStep> steps;
    qpreg::ParseFault fault;
    if (!qpreg::ReadRegFile(content, &steps, &fault)) {
        FUZZ_CHECK(fault.line >= 1 && !fault.reason.empty());
        return 0;
    }
    qpreg::Bytes first;
    // A change the registry refuses (an overlong value, a key it cannot
    // create) fails the whole import, which is the file's fault.
    if (!ImportAndExport(steps, &first)) return 0;

    std::vector<qpreg::ImportStep> again;
    FUZZ_CHECK(qpreg::ReadRegFile(first, &again, &fault));
    qpreg::Bytes second;
    FUZZ_CHECK(ImportAndExport(again, &second));
    FUZZ_CHECK(first == second);
    return 0;
}
