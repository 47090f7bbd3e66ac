/* Heap accounting for the footprint report, preloaded into the daemon (LD_PRELOAD, or
   qemu-ppc -E LD_PRELOAD=... for the device build). Counts the bytes in use through
   malloc_usable_size and their peak; at every recv() -- the daemon waiting for the next
   command, nothing of the previous one still allocated -- it rewrites one line of the file
   $HEAP_COUNT_FILE.<pid>: "<recv calls> <bytes in use> <peak bytes in use> <allocations>". */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);
extern void __libc_free(void*);

static size_t in_use, peak;
static unsigned long allocations, recv_calls;

static void* counted(void* p) {
  if (p != NULL) {
    in_use += malloc_usable_size(p);
    if (in_use > peak) peak = in_use;
    ++allocations;
  }
  return p;
}

static void uncount(void* p) {
  if (p != NULL) in_use -= malloc_usable_size(p);
}

void* malloc(size_t n) { return counted(__libc_malloc(n)); }
void* calloc(size_t count, size_t n) { return counted(__libc_calloc(count, n)); }
void free(void* p) {
  uncount(p);
  __libc_free(p);
}
void* realloc(void* p, size_t n) {
  uncount(p);
  void* q = __libc_realloc(p, n);
  if (q == NULL && n != 0) {  /* the old block stays */
    counted(p);
    --allocations;
    return NULL;
  }
  return counted(q);
}
void* memalign(size_t align, size_t n) { return counted(__libc_memalign(align, n)); }
void* aligned_alloc(size_t align, size_t n) { return counted(__libc_memalign(align, n)); }
void* valloc(size_t n) { return counted(__libc_memalign(sysconf(_SC_PAGESIZE), n)); }
int posix_memalign(void** out, size_t align, size_t n) {
  void* p = counted(__libc_memalign(align, n));
  if (p == NULL) return 12; /* ENOMEM */
  *out = p;
  return 0;
}

static void report(void) {
  const char* base = getenv("HEAP_COUNT_FILE");
  if (base == NULL) return;
  char path[512], line[128];
  snprintf(path, sizeof path, "%s.%d", base, (int)getpid());
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const int n = snprintf(line, sizeof line, "%lu %lu %lu %lu\n", recv_calls,
                         (unsigned long)in_use, (unsigned long)peak, allocations);
  if (write(fd, line, (size_t)n) < 0) { /* nothing to do about it */ }
  close(fd);
}

ssize_t recv(int fd, void* buf, size_t n, int flags) {
  static ssize_t (*real_recv)(int, void*, size_t, int);
  if (real_recv == NULL) real_recv = (ssize_t(*)(int, void*, size_t, int))dlsym(RTLD_NEXT, "recv");
  ++recv_calls;
  report();
  return real_recv(fd, buf, n, flags);
}
