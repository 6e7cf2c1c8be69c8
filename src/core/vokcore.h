// The few services the library takes from its companion core library:
// aligned work buffers, the largest cache size and the worker count.
#ifndef VOKSC_CORE_VOKCORE_H
#define VOKSC_CORE_VOKCORE_H

namespace voksc::core {

// Memory aligned to 64 bytes, or null (also for requests below 1 byte).
void* vokMalloc(int bytes);
void vokFree(void* p);
// 0 and the size of the largest processor cache, or a non-zero status.
int vokGetMaxCacheSizeB(int* bytes);
int ownGetNumThreads();

}  // namespace voksc::core

#endif  // VOKSC_CORE_VOKCORE_H
