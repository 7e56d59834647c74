#include "utils/allocator.h"

#include <cstring>
#include <new>

#include "utils/exception.h"

namespace utils {

void* Allocator::ReAlloc(void* old, size_t newSize, size_t copySize) {
  void* block = Alloc(newSize);
  if (!block) throw ExhaustedException(u"Insufficient Memory", u"Allocator::ReAlloc");
  if (!old) return block;
  if (copySize != 0) std::memcpy(block, old, copySize);
  Free(old);
  return block;
}

void* CPPAllocator::Alloc(size_t size) { return ::operator new(size); }

void CPPAllocator::Free(void* p) { ::operator delete(p); }

}  // namespace utils
