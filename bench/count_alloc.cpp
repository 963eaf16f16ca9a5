// Preloaded into the program by the benchmark: counts heap allocations and
// writes the count to the file named by HALVEX_ALLOC_LOG when the program ends.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);

static unsigned long allocations;

void* malloc(size_t size)
{
    ++allocations;
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size)
{
    ++allocations;
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size)
{
    ++allocations;
    return __libc_realloc(block, size);
}
}

__attribute__((destructor)) static void report_allocations()
{
    const char* path = getenv("HALVEX_ALLOC_LOG");
    if (path == nullptr) return;
    char line[32];
    int length = snprintf(line, sizeof line, "%lu\n", allocations);
    int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return;
    if (write(fd, line, static_cast<size_t>(length)) < 0) perror("allocation log");
    close(fd);
}
