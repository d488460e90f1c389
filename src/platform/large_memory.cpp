#include "platform/large_memory.h"

#include <new>
#include <sys/mman.h>

namespace kelvor::platform {

Memory plain_memory(std::size_t size) {
    void* memory = std::malloc(size);
    if (memory == nullptr && size > 0)
        throw std::bad_alloc();
    return Memory(static_cast<char*>(memory));
}

Memory large_memory(std::size_t size) {
    void* memory = nullptr;
    if (::posix_memalign(&memory, huge_page_size, size) != 0)
        throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    // Only a wish: without huge pages to give, the system gives plain ones.
    ::madvise(memory, size, MADV_HUGEPAGE);
#endif
    return Memory(static_cast<char*>(memory));
}

} // namespace kelvor::platform
