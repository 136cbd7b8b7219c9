// SipHash-1-3 (one compression round, three finalization rounds) of a name under a random key.
#include "engine/name_hash.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <random>

namespace engine {

namespace {

using Key = std::array<std::uint64_t, 2>;

const Key& ProcessKey() {
  static const Key key = [] {
    std::random_device source;
    const auto word = [&] { return (std::uint64_t{source()} << 32) | source(); };
    return Key{word(), word()};
  }();
  return key;
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  void Round() {
    v0 += v1;
    v1 = std::rotl(v1, 13) ^ v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16) ^ v2;
    v0 += v3;
    v3 = std::rotl(v3, 21) ^ v0;
    v2 += v1;
    v1 = std::rotl(v1, 17) ^ v2;
    v2 = std::rotl(v2, 32);
  }

  void Absorb(std::uint64_t word) {
    v3 ^= word;
    Round();
    v0 ^= word;
  }
};

// The little-endian word of up to eight bytes.
std::uint64_t LoadWord(const char* bytes, std::size_t count) {
  std::uint64_t word = 0;
  for (std::size_t i = 0; i < count; ++i) {
    word |= std::uint64_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
  }
  return word;
}

}  // namespace

std::size_t NameHash::operator()(std::string_view name) const {
  const Key& key = ProcessKey();
  SipState state{key[0] ^ 0x736f6d6570736575u, key[1] ^ 0x646f72616e646f6du,
                 key[0] ^ 0x6c7967656e657261u, key[1] ^ 0x7465646279746573u};
  std::size_t at = 0;
  for (; at + 8 <= name.size(); at += 8) state.Absorb(LoadWord(name.data() + at, 8));
  state.Absorb(LoadWord(name.data() + at, name.size() - at) | (std::uint64_t{name.size()} << 56));
  state.v2 ^= 0xff;
  for (int round = 0; round < 3; ++round) state.Round();
  return static_cast<std::size_t>(state.v0 ^ state.v1 ^ state.v2 ^ state.v3);
}

}  // namespace engine
