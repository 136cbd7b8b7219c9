// Bytes read a chunk at a time, checked against pieces laid end to end.
#include "platform/pieces_match.h"

#include <algorithm>

namespace platform {

namespace {

// Moves past the pieces that are used up, or empty.
void SkipSpentPieces(PiecesMatch& match) {
  while (match.rest.empty() && match.piece + 1 < match.pieces->size()) {
    match.rest = (*match.pieces)[++match.piece];
  }
}

}  // namespace

PiecesMatch StartMatch(const std::vector<std::string_view>& pieces) {
  return {&pieces, 0, pieces.empty() ? std::string_view() : pieces.front(), true};
}

void MatchChunk(PiecesMatch& match, std::string_view chunk) {
  while (!chunk.empty() && match.same) {
    SkipSpentPieces(match);
    const std::size_t length = std::min(match.rest.size(), chunk.size());
    match.same = length > 0 && chunk.substr(0, length) == match.rest.substr(0, length);
    chunk.remove_prefix(length);
    match.rest.remove_prefix(length);
  }
}

bool MatchedAll(PiecesMatch& match) {
  SkipSpentPieces(match);
  return match.same && match.rest.empty();
}

}  // namespace platform
