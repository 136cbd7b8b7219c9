// The hash of the document's index of section names: SipHash-1-3 under a key drawn at random for
// each run, so that nobody can know in advance which names share a hash and no file can be made
// whose names make the index slow. (An unkeyed hash let a livery.ini of 40,000 crafted section
// names take 21 s to install, where 40,000 random names took 0.05 s.)
//
// A hash map rather than an ordered one (std::map, which needs no hash) because the numbering
// reads every entry's title four times per install: on a file of 10,000 entries those reads took
// 16 ms through the hash map and 21 ms through std::map; at 100,000 entries the two are alike.
#pragma once

#include <cstddef>
#include <string_view>

namespace profile {

struct NameHash {
  std::size_t operator()(std::string_view name) const;
};

}  // namespace profile
