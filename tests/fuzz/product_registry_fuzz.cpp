// The product registry file reader: any file gives a defined set of names.
#include <windows.h>

#include <string>

#include "ProductRegINIReader.h"
#include "fuzz_support.h"

using namespace dbg_internal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string path = nlfuzz::ScratchPath("cfg_ProductRegistry.txt");
    nlfuzz::WriteBytes(path, data, size);
    CProductRegINIReader reader;
    const std::wstring widePath(path.begin(), path.end());
    FUZZ_CHECK(reader.LoadFile(widePath.c_str()));
    CRegLineReaderCB lines;
    reader.IterateEachLine(lines);
    for (const wchar_t* key :
         {L"RegKeyProductCurrentVersion", L"RegValueHomeDir", L"RegValueDebugLevel", L"RegValueDebugLogCount",
          L"RegValueDebugModule", L"RegValueLogCriticalInfo"}) {
        std::wstring value;
        if (LookupValue(lines, key, value)) FUZZ_CHECK(value.find(L'\0') == std::wstring::npos);
    }
    return 0;
}
