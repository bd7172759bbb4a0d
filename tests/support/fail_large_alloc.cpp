// fail_large_alloc: a preload library for tests. While the environment variable
// DAVUZOD_FAIL_ALLOC_ABOVE holds a size, malloc and realloc refuse any larger
// request, so that a test can make libstemmer run out of memory on a long word.
#include <cstddef>
#include <cstdlib>

extern "C" {

void* __libc_malloc(std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);

static bool refused(std::size_t size) {
    const char* limit = std::getenv("DAVUZOD_FAIL_ALLOC_ABOVE");
    return limit != nullptr && size > std::strtoul(limit, nullptr, 10);
}

void* malloc(std::size_t size) {
    return refused(size) ? nullptr : __libc_malloc(size);
}

void* realloc(void* pointer, std::size_t size) {
    return refused(size) ? nullptr : __libc_realloc(pointer, size);
}

}  // extern "C"
