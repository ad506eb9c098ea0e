// The status program's own texts and arguments: what a bad command line is,
// how --plan hands the rest to the tool's parser, JSON escaping and times.
#include <gtest/gtest.h>

#include "status/json_text.h"
#include "status/state_report.h"
#include "status/status_options.h"

namespace {

bool Parse(std::vector<std::string> args, StatusOptions* options, std::string* error) {
  args.insert(args.begin(), "mevrid-status");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  return ParseStatusOptions(static_cast<int>(argv.size()), argv.data(), options, error);
}

TEST(StatusOptionsTest, BadCommandLinesNameTheirFault) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  };
  const Case cases[] = {
      {{"--json", "--bogus"}, "unknown option --bogus"},
      {{"--detect"}, "--detect needs a value"},
      {{"--release", ""}, "--release needs a value"},
      {{"--detect", "a", "--plan"}, "--plan, --detect and --help go alone"},
      {{"-k", "a"}, "-k is an option of --plan"},
      {{"--plan", "-k", "a", "-b"}, "--plan covers the install and remove modes, not -e or -b"},
  };
  for (const Case& c : cases) {
    StatusOptions options;
    std::string error;
    EXPECT_FALSE(Parse(c.args, &options, &error)) << c.error;
    EXPECT_EQ(error, c.error);
  }
}

TEST(StatusOptionsTest, PlanReadsTheToolsOptionsAsTheToolDoes) {
  StatusOptions options;
  std::string error;
  ASSERT_TRUE(Parse({"--plan", "/K", "alpha", "--release", "rel", "-remove", "--json"}, &options, &error)) << error;
  EXPECT_EQ(options.Mode, StatusMode::Plan);
  EXPECT_TRUE(options.Json);
  EXPECT_EQ(options.ReleaseDirectory, "rel");
  EXPECT_EQ(options.ToolParse, ParseOutcome::Run);
  EXPECT_STREQ(options.Tool.ReferenceName, "ALPHA");
  EXPECT_EQ(options.Tool.Remove, 1);
  // What the tool takes as a usage error or a no-op is a plan of that mode.
  ASSERT_TRUE(Parse({"--plan", "-k"}, &options, &error));
  EXPECT_EQ(options.ToolParse, ParseOutcome::Usage);
  ASSERT_TRUE(Parse({"--plan", "-o", "-x"}, &options, &error));
  EXPECT_EQ(options.ToolParse, ParseOutcome::NoOp);
}

TEST(StatusTextsTest, JsonStringsAreAlwaysValid) {
  EXPECT_EQ(JsonString("C:\\a \"b\""), "\"C:\\\\a \\\"b\\\"\"");
  EXPECT_EQ(JsonString(std::string("\t\x01\x7f\xe9", 4)), "\"\\u0009\\u0001\\u007f\\u00e9\"");
  EXPECT_EQ(JsonStringOrNull(false, "x"), "null");
  EXPECT_EQ(JsonStringList({}), "[]");
  EXPECT_EQ(JsonStringList({"A", "B"}), "[\"A\",\"B\"]");
}

TEST(StatusTextsTest, FileTimesAreUtc) {
  auto at = [](uint64_t ticks) { return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)}; };
  constexpr uint64_t kUnixEpoch = 116444736000000000ULL;
  EXPECT_EQ(FileTimeText(at(0)), "1601-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeText(at(kUnixEpoch)), "1970-01-01T00:00:00Z");
  EXPECT_EQ(FileTimeText(at(kUnixEpoch - 10000000)), "1969-12-31T23:59:59Z");
  // 2024-02-29 23:59:59, a leap day.
  EXPECT_EQ(FileTimeText(at(kUnixEpoch + 1709251199ULL * 10000000)), "2024-02-29T23:59:59Z");
}

}  // namespace
