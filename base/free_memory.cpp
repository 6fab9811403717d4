#include "base/free_memory.h"

#include <cstdlib>  // defines __GLIBC__ with the C library's headers
#if defined(__GLIBC__)
#include <malloc.h>
#endif

void ReturnFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}
