#include "platform/HeapTuning.h"

#include <QFile>

#include <cstdint>
#include <cstdlib>
#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace quorvit {

namespace {
constexpr std::size_t kGrowthStep = std::size_t(256) << 20;
constexpr std::size_t kLargePage = std::size_t(2) << 20;
// The largest request the allocator still serves from its heap rather than mapping it on its own.
constexpr std::size_t kLargestFromHeap = std::size_t(32) << 20;
} // namespace

void tuneHeapForLargeTrees()
{
    // Under strict overcommit the reserved steps would count against the system's limit; leave the
    // allocator as it is there.
    QFile overcommit(QStringLiteral("/proc/sys/vm/overcommit_memory"));
    if (overcommit.open(QIODevice::ReadOnly) && overcommit.readAll().trimmed() == "2")
        return;
    // Every thread on the one heap: a thread's own heap grows a few pages at a time, each step a system
    // call that also flushes the other cores' address translations, and reading files side by side
    // made tens of thousands of them.
    mallopt(M_ARENA_MAX, 1);
    // Few, large steps, never given back: reading one file after another reuses memory rather than
    // returning it and faulting it in afresh. Address space only; pages count once touched.
    mallopt(M_TOP_PAD, int(kGrowthStep));
    mallopt(M_TRIM_THRESHOLD, int(kGrowthStep * 4));
    // File contents and decoded texts (megabytes each) come from the heap too, instead of a mapping
    // of their own that is faulted in page by page and unmapped when freed.
    mallopt(M_MMAP_THRESHOLD, int(kLargestFromHeap));

    // Grow the heap by one step now and let the system back it with 2 MB pages: a tree of a hundred
    // thousand bookmarks is then faulted in in a hundred pieces rather than in tens of thousands.
    const auto before = reinterpret_cast<std::uintptr_t>(sbrk(0));
    // Kept in a volatile: a request that is freed unused could be left out altogether.
    void* volatile probe = std::malloc(kLargestFromHeap / 2);
    const auto after = reinterpret_cast<std::uintptr_t>(sbrk(0));
    std::free(probe);
    const std::uintptr_t from = (before + kLargePage - 1) & ~(kLargePage - 1);
    const std::uintptr_t to = after & ~(kLargePage - 1);
    if (before != std::uintptr_t(-1) && to > from)
        madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
}

} // namespace quorvit
