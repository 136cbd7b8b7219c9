// An owned block of bytes for a whole file.
#include "platform/linux/byte_buffer.h"

#include <sys/mman.h>

#include <cstring>

namespace linux_files {

namespace {

// Below this, the heap serves better than a mapping of its own.
constexpr std::size_t kMappedFrom = std::size_t{1} << 20;

}  // namespace

void ReleaseBytes::operator()(char* bytes) const {
  if (mappedSize != 0) {
    munmap(bytes, mappedSize);
  } else {
    delete[] bytes;
  }
}

ByteBuffer ByteBuffer::Allocate(std::size_t capacity) {
  if (capacity >= kMappedFrom) {
    void* mapped =
        mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped != MAP_FAILED) {
      madvise(mapped, capacity, MADV_HUGEPAGE);  // only advice: without it, ordinary pages serve
      return ByteBuffer{{static_cast<char*>(mapped), ReleaseBytes{capacity}}, 0};
    }
  }
  return ByteBuffer{{new char[capacity == 0 ? 1 : capacity], ReleaseBytes{}}, 0};
}

ByteBuffer ByteBuffer::CopyOf(std::string_view bytes) {
  ByteBuffer buffer = Allocate(bytes.size());
  if (!bytes.empty()) std::memcpy(buffer.data.get(), bytes.data(), bytes.size());
  buffer.size = bytes.size();
  return buffer;
}

}  // namespace linux_files
