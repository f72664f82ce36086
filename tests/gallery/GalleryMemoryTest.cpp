// Memory of a listing: each thumbnail goes to the GPU as soon as it is graded,
// so the bytes the listing holds do not grow with the number of entries.
// This program counts every byte that operator new hands out.
#include <atomic>
#include <cstdlib>
#include <new>

#include "GalleryTestEnv.h"

namespace {
std::atomic<long long> liveBytes{0};
constexpr std::size_t kHeader = 16;

void* counted(std::size_t n) {
    void* block = std::malloc(n + kHeader);
    if (!block) return nullptr;
    *static_cast<std::size_t*>(block) = n;
    liveBytes += static_cast<long long>(n);
    return static_cast<char*>(block) + kHeader;
}

void release(void* p) {
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    liveBytes -= static_cast<long long>(*reinterpret_cast<std::size_t*>(block));
    std::free(block);
}
}  // namespace

void* operator new(std::size_t n) {
    if (void* p = counted(n)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return counted(n); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }

namespace gallery_test {
namespace {

using GalleryListingMemory = GalleryTest;

TEST_F(GalleryListingMemory, StaysFlatWhateverTheNumberOfEntries) {
    const std::string dir = folder("many");
    const int count = 24;
    for (int i = 0; i < count; ++i) writeCube(dir + "/look" + std::to_string(i) + ".cube", 2, 1, 1, 1);
    long long first = -1, peak = 0;
    gallery->onProgress = [&](int, int) {
        const long long now = liveBytes.load();
        if (first < 0) first = now;
        peak = std::max(peak, now);
    };
    run(dir + "/look0.cube", [&] { EXPECT_EQ(views().size(), std::size_t(count)); });
    const long long thumbnailBytes = 4LL * sizeof(float) * gallery->previewWidth * gallery->previewHeight;
    EXPECT_LT(peak - first, 2 * thumbnailBytes) << "grew by " << (peak - first) << " bytes over " << count
                                                << " entries";
}

}  // namespace
}  // namespace gallery_test
