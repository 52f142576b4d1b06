// LocalAlloc, LocalReAlloc, LocalFree: the contract the cluster buffers rely on.
#include "nltest.h"

namespace {

TEST(LocalMemory, BlocksGrowOnlyWhenTheyMayMoveAndOnlyBlocksAreFreed) {
    HLOCAL block = LocalAlloc(LMEM_ZEROINIT, 64);
    ASSERT_TRUE(block);
    EXPECT_EQ(std::string(64, 0), std::string(static_cast<char*>(block), 64));
    memset(block, 0xAB, 64);

    // A fixed block that may not move cannot grow; it is left as it was.
    SetLastError(0);
    EXPECT_EQ(LocalReAlloc(block, 128, LMEM_FIXED), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(static_cast<BYTE*>(block)[63], 0xAB);
    // It can shrink in place.
    EXPECT_EQ(LocalReAlloc(block, 32, LMEM_FIXED), block);

    HLOCAL grown = LocalReAlloc(block, 4096, LMEM_MOVEABLE | LMEM_ZEROINIT);
    ASSERT_TRUE(grown);
    EXPECT_EQ(static_cast<BYTE*>(grown)[31], 0xAB);
    EXPECT_EQ(std::string(4096 - 32, 0), std::string(static_cast<char*>(grown) + 32, 4096 - 32));
    EXPECT_EQ(LocalFree(grown), nullptr);
    // Freeing accepts null and rejects foreign pointers.
    EXPECT_EQ(LocalFree(nullptr), nullptr);
    alignas(16) static BYTE notABlock[64] = {};
    HLOCAL foreign = notABlock + 32;
    SetLastError(0);
    EXPECT_EQ(LocalFree(foreign), foreign);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(LocalReAlloc(foreign, 8, LMEM_MOVEABLE), nullptr);
}

}  // namespace
