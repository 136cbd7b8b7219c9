// An owned block of bytes for a whole file. Unlike std::string it is not zero-filled before the
// file is read into it, and a large one is mapped with all its pages at once: reading a file of
// several megabytes then costs a fraction of the page faults.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace linux_files {

// Frees a ByteBuffer's bytes the way they were allocated.
struct ReleaseBytes {
  std::size_t mappedSize = 0;  // 0: allocated with new[]
  void operator()(char* bytes) const;
};

struct ByteBuffer {
  std::unique_ptr<char[], ReleaseBytes> data;
  std::size_t size = 0;  // bytes in use, at most the capacity asked of Allocate

  std::string_view view() const { return {data.get(), size}; }

  // A buffer with room for `capacity` bytes, none of them in use yet.
  static ByteBuffer Allocate(std::size_t capacity);

  static ByteBuffer CopyOf(std::string_view bytes);
};

}  // namespace linux_files
