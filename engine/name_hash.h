// The hash of the section index: SipHash-1-3 under a key drawn at random once per process, so that
// no file can be crafted whose names all land in one bucket and make every lookup slow.
#pragma once

#include <cstddef>
#include <string_view>

namespace engine {

struct NameHash {
  std::size_t operator()(std::string_view name) const;
};

}  // namespace engine
