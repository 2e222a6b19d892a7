#include "cli/batch_report.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/commands.h"
#include "player/text/json_quote.h"

namespace quarvel::cli {
namespace {

std::string Quoted(const std::string& s) { return encoding::JsonQuoted(s); }

std::string Number(double value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.3f", value);
  return buf;
}

}  // namespace

std::string BatchReportJson(const std::vector<BatchResult>& results, int latency_ms) {
  std::string json = "{\n  \"movies\": [";
  int converted = 0;
  for (std::size_t i = 0; i < results.size(); ++i) {
    const BatchResult& r = results[i];
    converted += r.ok ? 1 : 0;
    const bool known = r.frames >= 0;
    json += i == 0 ? "\n" : ",\n";
    json += "    {\"input\": " + Quoted(r.job.movie) + ", \"output\": " + Quoted(r.job.output) +
            ", \"result\": " + Quoted(BatchResultName(r)) + ", \"error\": " + Quoted(r.error) +
            ", \"frames\": " + (known ? std::to_string(r.frames) : "null") +
            ", \"movie_seconds\": " + (known ? Number(double(r.frames) * latency_ms / 1000.0) : "null") +
            ", \"wall_seconds\": " + Number(r.seconds) + ", \"output_bytes\": " + std::to_string(r.bytes) + "}";
  }
  json += results.empty() ? "],\n" : "\n  ],\n";
  json += "  \"converted\": " + std::to_string(converted) +
          ",\n  \"failed\": " + std::to_string(results.size() - std::size_t(converted)) + "\n}\n";
  return json;
}

void WriteBatchReport(const std::string& path, const std::vector<BatchResult>& results, int latency_ms) {
  const std::string json = BatchReportJson(results, latency_ms);
  WriteAtomically(path, [&](const std::string& temp) {
    errno = 0;
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (!file) throw CommandError(path + ": cannot write the report: " + std::strerror(errno));
    const bool written = std::fwrite(json.data(), 1, json.size(), file) == json.size();
    const int err = errno;
    if (std::fclose(file) != 0 || !written)
      throw CommandError(path + ": cannot write the report: " + std::strerror(err ? err : errno ? errno : EIO));
  });
}

}  // namespace quarvel::cli
