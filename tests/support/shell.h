#pragma once
// Runs a shell command for a test and returns what it printed; empty when it
// could not be started.

#include <cstdio>
#include <memory>
#include <string>

namespace quarvel::testing {

inline std::string Shell(const std::string& command) {
  std::string out;
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe) return out;
  char buffer[512];
  while (std::fgets(buffer, sizeof buffer, pipe.get())) out += buffer;
  return out;
}

}  // namespace quarvel::testing
