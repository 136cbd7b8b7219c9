// An index from section names to section numbers, open addressing with linear probing.
#include "platform/linux/section_index.h"

#include <cstring>

#include "profile/ascii_case.h"

namespace profile_engine {

namespace {

// The slot where probing for `hash` starts. FNV-1a alone spreads names that differ only in their
// last digits ("fltsim.1", "fltsim.2", ...) into runs of neighbouring slots, so its bits are mixed
// first (the 64-bit finaliser of MurmurHash3).
std::size_t FirstSlot(const SectionIndex& index, std::uint64_t hash) {
  hash ^= hash >> 33;
  hash *= 0xFF51AFD7ED558CCDu;
  hash ^= hash >> 33;
  hash *= 0xC4CEB9FE1A85EC53u;
  hash ^= hash >> 33;
  return static_cast<std::size_t>(hash & (index.slots.size() - 1));
}

// The slot that holds `name`, or the empty slot where it would go.
std::size_t Probe(const SectionIndex& index, std::uint64_t hash, std::string_view name) {
  const std::size_t mask = index.slots.size() - 1;
  std::size_t at = FirstSlot(index, hash);
  while (index.slots[at].section != SectionIndex::kEmpty &&
         !(index.slots[at].hash == hash &&
           profile::EqualIgnoringAsciiCase(index.slots[at].name(), name))) {
    at = (at + 1) & mask;
  }
  return at;
}

void Grow(SectionIndex& index) {
  std::vector<SectionIndex::Slot> old = std::move(index.slots);
  index.slots.assign(old.empty() ? 16 : old.size() * 2, SectionIndex::Slot{});
  for (const SectionIndex::Slot& slot : old) {
    if (slot.section != SectionIndex::kEmpty)
      index.slots[Probe(index, slot.hash, slot.name())] = slot;
  }
}

}  // namespace

std::optional<std::size_t> FindInIndex(const SectionIndex& index, std::string_view name) {
  if (index.slots.empty()) return std::nullopt;
  const SectionIndex::Slot& slot =
      index.slots[Probe(index, profile::HashIgnoringAsciiCase(name), name)];
  if (slot.section == SectionIndex::kEmpty || slot.section == SectionIndex::kRemoved) {
    return std::nullopt;
  }
  return slot.section;
}

bool AddToIndexIfNew(SectionIndex& index, std::string_view name, std::size_t section) {
  if (2 * (index.used + 1) > index.slots.size()) Grow(index);
  const std::uint64_t hash = profile::HashIgnoringAsciiCase(name);
  SectionIndex::Slot& slot = index.slots[Probe(index, hash, name)];
  if (slot.section == SectionIndex::kRemoved) {
    slot.section = static_cast<std::uint32_t>(section);
    return true;
  }
  if (slot.section != SectionIndex::kEmpty) return false;
  slot.hash = hash;
  slot.section = static_cast<std::uint32_t>(section);
  slot.nameSize = static_cast<std::uint32_t>(name.size());
  if (name.size() <= SectionIndex::kInlineName) {
    std::memcpy(slot.inlineName, name.data(), name.size());
  } else {
    slot.nameData = name.data();
  }
  ++index.used;
  return true;
}

void RemoveFromIndex(SectionIndex& index, std::string_view name) {
  if (index.slots.empty()) return;
  SectionIndex::Slot& slot = index.slots[Probe(index, profile::HashIgnoringAsciiCase(name), name)];
  if (slot.section != SectionIndex::kEmpty) slot.section = SectionIndex::kRemoved;
}

}  // namespace profile_engine
