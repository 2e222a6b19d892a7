#pragma once
// Signed runtime libraries (".swz"): a SWF held in a PKCS#7 signedData
// envelope (DER), which a Loader accepts as the movie it holds.

#include <cstdint>
#include <optional>
#include <span>

namespace quarvel::swf {

// The movie inside a signed library: the encapsulated content of its
// signedData when that content starts as a SWF ("FWS", "CWS" or "ZWS");
// nullopt for anything else (a plain movie, a picture, a broken envelope).
// The signature is not checked: the player loads only files beside the movie.
std::optional<std::span<const std::uint8_t>> SignedLibraryMovie(std::span<const std::uint8_t> file);

}  // namespace quarvel::swf
