// Bytes read a chunk at a time, checked against pieces laid end to end, without holding the bytes
// in memory: how the update sees that a file holds exactly what it should, however large.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace platform {

struct PiecesMatch {
  const std::vector<std::string_view>* pieces = nullptr;
  std::size_t piece = 0;  // the piece that `rest` is the end of
  std::string_view rest;  // what the next bytes must be
  bool same = true;       // every byte so far was the pieces' next
};

// A match against `pieces`, which must outlive it, before any byte is read.
PiecesMatch StartMatch(const std::vector<std::string_view>& pieces);

// Checks the next bytes read.
void MatchChunk(PiecesMatch& match, std::string_view chunk);

// True, once every byte has been read, when the bytes were exactly the pieces: no more, no fewer.
bool MatchedAll(PiecesMatch& match);

}  // namespace platform
