// The batch report's JSON: texts that need escaping, unknown numbers as
// null, and each movie's result word.
#include "cli/batch_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel::cli {
namespace {

TEST(BatchReport, EscapesTextsAndWritesUnknownNumbersAsNull) {
  BatchResult converted;
  converted.job = {"films/ünïcode \"quoted\".swf", "out/a.gif"};
  converted.ok = true;
  converted.status = BatchStatus::kOk;
  converted.frames = 48;
  converted.seconds = 1.25;
  converted.bytes = 123456;
  BatchResult failed;
  failed.job = {"C:\\odd\\name.swf", "out/b.gif"};
  failed.status = BatchStatus::kFailed;
  failed.error = "line one\nline\ttwo \x01 end";
  const std::string json = BatchReportJson({converted, failed}, 125);

  EXPECT_NE(json.find(R"({"input": "films/ünïcode \"quoted\".swf", "output": "out/a.gif", "result": "ok", )"
                      R"("error": "", "frames": 48, "movie_seconds": 6.000, "wall_seconds": 1.250, )"
                      R"("output_bytes": 123456})"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find(R"({"input": "C:\\odd\\name.swf", "output": "out/b.gif", "result": "failed", )"
                      R"("error": "line one\nline\ttwo \u0001 end", "frames": null, "movie_seconds": null, )"),
            std::string::npos)
      << json;
  EXPECT_NE(json.find("\"converted\": 1,\n  \"failed\": 1\n}"), std::string::npos) << json;
  // No raw control character is left in the document.
  for (const char c : json) EXPECT_FALSE(static_cast<unsigned char>(c) < 0x20 && c != '\n') << json;
}

TEST(BatchReport, AnEmptyBatchIsAnEmptyListAndMoviesNeverBegunSaySo) {
  EXPECT_EQ(BatchReportJson({}, 100), "{\n  \"movies\": [],\n  \"converted\": 0,\n  \"failed\": 0\n}\n");
  BatchResult never;
  never.error = "not converted (interrupted)";
  EXPECT_EQ(BatchResultName(never), "not converted");
  BatchResult cut;
  cut.status = BatchStatus::kPartial;
  EXPECT_EQ(BatchResultName(cut), "partial");
  BatchResult broken;
  broken.status = BatchStatus::kFailed;
  broken.error = "movie.swf: not a SWF file";
  EXPECT_EQ(BatchResultName(broken), "failed");
}

}  // namespace
}  // namespace quarvel::cli
