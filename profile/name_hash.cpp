// SipHash-1-3 of a name under a key drawn at random for each run.
#include "profile/name_hash.h"

#include <array>
#include <bit>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <random>

namespace profile {

namespace {

using Key = std::array<std::uint64_t, 2>;

// A key that nobody can know before the run. Should the system have no random source, the clock
// and where the program was loaded serve, which are as unknown to whoever made the file.
Key DrawKey() {
  try {
    std::random_device device;
    const auto draw = [&] { return std::uint64_t{device()} << 32 | device(); };
    return {draw(), draw()};
  } catch (...) {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return {static_cast<std::uint64_t>(now),
            static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(&DrawKey))};
  }
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

}  // namespace

std::size_t NameHash::operator()(std::string_view name) const {
  static const Key key = DrawKey();
  SipState state{key[0] ^ 0x736f6d6570736575u, key[1] ^ 0x646f72616e646f6du,
                 key[0] ^ 0x6c7967656e657261u, key[1] ^ 0x7465646279746573u};
  // Eight bytes to a little-endian word; the last word holds the rest and the length.
  std::size_t at = 0;
  for (; at + 8 <= name.size(); at += 8) {
    std::uint64_t word;
    std::memcpy(&word, name.data() + at, 8);
    state.Absorb(word);
  }
  std::uint64_t last = std::uint64_t{name.size()} << 56;
  for (std::size_t i = at; i < name.size(); ++i) {
    last |= std::uint64_t{static_cast<unsigned char>(name[i])} << (8 * (i - at));
  }
  state.Absorb(last);
  state.v2 ^= 0xFF;
  for (int i = 0; i < 3; ++i) state.Round();
  return state.v0 ^ state.v1 ^ state.v2 ^ state.v3;
}

}  // namespace profile
