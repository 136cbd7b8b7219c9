// An index from section names, compared regardless of ASCII case, to section numbers: open
// addressing over a power-of-two table that is at most half full, so that a lookup costs one hash
// and usually one probe of one 32-byte slot. A name of up to 16 bytes is kept in its slot, so
// that confirming a match touches no other memory; a longer one is held as a view, and what it
// points to must outlive the index. A name taken out keeps its slot, marked kRemoved, so that the
// probing of other names still passes over it; filing the name again reuses the slot.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace profile_engine {

struct SectionIndex {
  static constexpr std::uint32_t kEmpty = UINT32_MAX;
  static constexpr std::uint32_t kRemoved = UINT32_MAX - 1;
  static constexpr std::size_t kInlineName = 16;

  struct Slot {
    std::uint64_t hash = 0;
    std::uint32_t section = kEmpty;
    std::uint32_t nameSize = 0;
    union {
      char inlineName[kInlineName];  // names of up to kInlineName bytes
      const char* nameData;          // longer names
    };
    std::string_view name() const {
      return {nameSize <= kInlineName ? inlineName : nameData, nameSize};
    }
  };

  std::vector<Slot> slots;
  std::size_t used = 0;
};

// The section filed under `name`, or nothing.
std::optional<std::size_t> FindInIndex(const SectionIndex& index, std::string_view name);

// Files `section` under `name` unless a section of that name is already filed: the first wins.
// True when it was filed.
bool AddToIndexIfNew(SectionIndex& index, std::string_view name, std::size_t section);

// Takes `name` out of the index, so that no section is found under it.
void RemoveFromIndex(SectionIndex& index, std::string_view name);

}  // namespace profile_engine
