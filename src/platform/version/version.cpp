// version.dll: GetFileVersionInfoSizeW, GetFileVersionInfoW, VerQueryValueW
// over the version note of an ELF file.
#include <windows.h>

#include <string.h>

#include "common/unicode.h"
#include "version/elf_version_note.h"

namespace {

// The version block, laid out as Windows lays out VS_VERSIONINFO: a header,
// the key "VS_VERSION_INFO" in UTF-16, padding to 32 bits, then the fixed
// file information. It has no string or variable file information.
struct VersionBlock {
    WORD length;
    WORD valueLength;
    WORD type;
    char16_t key[16];
    WORD padding;
    VS_FIXEDFILEINFO value;
};
static_assert(offsetof(VersionBlock, value) == 40 && sizeof(VersionBlock) == 92, "VS_VERSIONINFO layout");

constexpr char16_t kVersionInfoKey[16] = u"VS_VERSION_INFO";

VersionBlock MakeBlock(const nlplatform::FileVersion& version) {
    VersionBlock block = {};
    block.length = sizeof block;
    block.valueLength = sizeof block.value;
    memcpy(block.key, kVersionInfoKey, sizeof block.key);
    block.value.dwSignature = VS_FFI_SIGNATURE;
    block.value.dwStrucVersion = VS_FFI_STRUCVERSION;
    block.value.dwFileVersionMS = block.value.dwProductVersionMS = version.mostSignificant;
    block.value.dwFileVersionLS = block.value.dwProductVersionLS = version.leastSignificant;
    return block;
}

// Reads the file's version; false with the last error set when it has none.
bool ReadVersion(LPCWSTR fileName, nlplatform::FileVersion* version) {
    DWORD status = !fileName    ? ERROR_INVALID_PARAMETER
                   : !*fileName ? ERROR_BAD_PATHNAME
                                : nlplatform::ReadFileVersionNote(nlplatform::NarrowPath(fileName), version);
    if (status == ERROR_SUCCESS) return true;
    SetLastError(status);
    return false;
}

// The root is named by "\", by nothing, or by backslashes alone.
bool NamesRoot(LPCWSTR subBlock) {
    if (!subBlock) return true;
    while (*subBlock == L'\\') ++subBlock;
    return *subBlock == L'\0';
}

bool IsVersionBlock(const VersionBlock* block) {
    return block->length >= sizeof *block && block->valueLength == sizeof block->value &&
           memcmp(block->key, kVersionInfoKey, sizeof block->key) == 0 &&
           block->value.dwSignature == VS_FFI_SIGNATURE;
}

}  // namespace

extern "C" {

DWORD GetFileVersionInfoSizeW(LPCWSTR fileName, LPDWORD handle) {
    if (handle) *handle = 0;
    nlplatform::FileVersion version;
    return ReadVersion(fileName, &version) ? static_cast<DWORD>(sizeof(VersionBlock)) : 0;
}

// A buffer smaller than the block gets its start, with the block's length
// cut to match, so that VerQueryValueW refuses the partial block rather than
// read past the caller's buffer.
BOOL GetFileVersionInfoW(LPCWSTR fileName, DWORD, DWORD size, LPVOID data) {
    if (!data) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    nlplatform::FileVersion version;
    if (!ReadVersion(fileName, &version)) return FALSE;
    VersionBlock block = MakeBlock(version);
    if (size < sizeof block) block.length = static_cast<WORD>(size);
    memcpy(data, &block, size < sizeof block ? size : sizeof block);
    return TRUE;
}

BOOL VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, UINT* length) {
    if (length) *length = 0;
    if (!block || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto* versionBlock = static_cast<const VersionBlock*>(block);
    if (!NamesRoot(subBlock) || !IsVersionBlock(versionBlock)) {
        SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
        return FALSE;
    }
    *buffer = const_cast<VS_FIXEDFILEINFO*>(&versionBlock->value);
    if (length) *length = sizeof(VS_FIXEDFILEINFO);
    return TRUE;
}

}  // extern "C"
