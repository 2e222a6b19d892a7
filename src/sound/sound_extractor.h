#pragma once
// "Get Sound File": writes the sounds embedded in a SWF file (DefineSound
// event sounds and the SoundStreamHead/SoundStreamBlock streams of the main
// timeline and of every sprite) into files beside it, and says what it
// wrote. MP3 sounds become .MP3 files of their frames; every other format
// becomes a .WAV file that players open: uncompressed data wrapped as it is,
// ADPCM, Nellymoser and Speex decoded to 16-bit PCM. The raw mode writes
// the tag data as it is stored, without any header.

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel::sound {

struct SoundExtraction {
  // Message boxes to show, in order: the " Uncompressed !" notice of a
  // compressed file, then the list of files + "\r\nsaved !" or
  // "No sound tag found !" (with one more line when the data was cut off),
  // or the " not flash/swf file or compressed !" notice alone.
  std::vector<std::string> messages;
  // Every file written, in order.
  std::vector<std::filesystem::path> files;
};

// A file that could not be read or written, or a compressed body that does
// not inflate. Carries what was shown and written before the fault; files
// already written stay.
class SoundExtractionError : public std::runtime_error {
 public:
  SoundExtractionError(const std::string& what, SoundExtraction sofar)
      : std::runtime_error(what), sofar_(std::move(sofar)) {}
  const SoundExtraction& SoFar() const { return sofar_; }

 private:
  SoundExtraction sofar_;
};

struct ExtractOptions {
  // The stored bytes as they are: an event sound from its format byte on,
  // a stream's blocks without their first four bytes.
  bool raw = false;
};

// Runs the extraction for the SWF file at swfPath. No file there: an empty
// result. Output files go to swfPath's folder, named after its file name cut
// at the first ".": + "_SOUND" + id or "_StreamSound" + counter, + ".WAV"
// or ".MP3". A sound that cannot be decoded is left out and named in the
// final message. Throws SoundExtractionError.
SoundExtraction ExtractSounds(const std::filesystem::path& swfPath, const ExtractOptions& options = {});

}  // namespace quarvel::sound
