// libFuzzer entry for the XML text reader: any bytes as a fragment, under
// each combination of the settings. Only XmlSyntaxError may leave.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "player/avm2/xml_parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quarvel::avm2::xml;
  if (size == 0) return 0;
  const ParseOptions o{.ignoreComments = (data[0] & 1) != 0,
                       .ignoreProcessingInstructions = (data[0] & 2) != 0,
                       .ignoreWhitespace = (data[0] & 4) != 0};
  try {
    (void)ParseFragment(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1), o);
  } catch (const XmlSyntaxError&) {
  }
  return 0;
}
