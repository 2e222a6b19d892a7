#pragma once
// The movie the ActionScript 3 fuzz target plays any ABC block in: one
// DoABC tag and, when the block defines one, its last class that extends a
// Flash display class as the document class (compilers write the document
// class after its helpers). The SWF version comes from the block's minor
// version: 10 for the usual 16, else 9 + minor % 40, so that inputs also
// reach what newer movies have (workers from 17, Stage3D's rules at 30).

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quarvel::testing {

inline constexpr int kAbcMovieWidth = 64, kAbcMovieHeight = 48;

// The document class's name as SymbolClass spells it ("pkg.Name"), or empty.
std::string AbcDocumentClass(std::span<const std::uint8_t> abc);
int AbcMovieVersion(std::span<const std::uint8_t> abc);
// A two-frame movie of kAbcMovieWidth x kAbcMovieHeight at 24 frames a second.
std::vector<std::uint8_t> AbcMovie(std::span<const std::uint8_t> abc);

}  // namespace quarvel::testing
