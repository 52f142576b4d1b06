// LocalAlloc, LocalReAlloc, LocalFree: the local heap through
// which Windows hands out memory that another component frees (cluster
// control output, ResUtil copies).
//
// Every block is fixed: the handle is the block's address, also for a block
// asked for as moveable, so LocalLock is never needed. A block remembers its
// size in a header before it.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t kMagic = 0x4C4D454D4C4F434BULL;  // marks a live block

struct alignas(16) BlockHeader {
    size_t size;
    size_t magic;
};

BlockHeader* HeaderOf(HLOCAL mem) { return static_cast<BlockHeader*>(mem) - 1; }

bool IsLocalBlock(HLOCAL mem) { return mem && HeaderOf(mem)->magic == kMagic; }

HLOCAL Fail(DWORD error) {
    SetLastError(error);
    return nullptr;
}

}  // namespace

extern "C" {

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
    if (bytes > SIZE_MAX - sizeof(BlockHeader)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    void* raw = (flags & LMEM_ZEROINIT) ? calloc(1, sizeof(BlockHeader) + bytes)
                                        : malloc(sizeof(BlockHeader) + bytes);
    if (!raw) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BlockHeader* header = static_cast<BlockHeader*>(raw);
    header->size = bytes;
    header->magic = kMagic;
    return header + 1;
}

// A fixed block moves only when the caller allows it (LMEM_MOVEABLE):
// without that flag it shrinks in place, and a larger size fails with
// ERROR_NOT_ENOUGH_MEMORY, which Windows may also answer. LMEM_ZEROINIT zeroes the bytes a
// block gains. On failure the old block is untouched.
HLOCAL LocalReAlloc(HLOCAL mem, SIZE_T bytes, UINT flags) {
    if (!IsLocalBlock(mem)) return Fail(ERROR_INVALID_HANDLE);
    size_t oldSize = HeaderOf(mem)->size;
    if (!(flags & LMEM_MOVEABLE)) {
        // In place, or not at all.
        if (bytes > oldSize) return Fail(ERROR_NOT_ENOUGH_MEMORY);
        HeaderOf(mem)->size = bytes;
        return mem;
    }
    if (bytes > SIZE_MAX - sizeof(BlockHeader)) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    void* raw = realloc(HeaderOf(mem), sizeof(BlockHeader) + bytes);
    if (!raw) return Fail(ERROR_NOT_ENOUGH_MEMORY);
    BlockHeader* header = static_cast<BlockHeader*>(raw);
    header->size = bytes;
    if ((flags & LMEM_ZEROINIT) && bytes > oldSize)
        memset(reinterpret_cast<char*>(header + 1) + oldSize, 0, bytes - oldSize);
    return header + 1;
}

// NULL on success; the handle itself, with ERROR_INVALID_HANDLE, when it is
// no live block. Freeing NULL does nothing.
HLOCAL LocalFree(HLOCAL mem) {
    if (!mem) return nullptr;
    if (!IsLocalBlock(mem)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return mem;
    }
    HeaderOf(mem)->magic = 0;
    free(HeaderOf(mem));
    return nullptr;
}

}  // extern "C"
