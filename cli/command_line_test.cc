// Reading the command line into the run options, the validation of a
// reference request, and the usage and no-op modes of the entry point.
#include "cli/command_line.h"
#include "cli/option_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/usage_text.h"

namespace {

// An argument vector that owns its texts; element 0 is the program name.
class Args {
 public:
  Args(std::initializer_list<std::string> args) : texts_(args) {
    texts_.insert(texts_.begin(), "mevrid");
    for (std::string& text : texts_) pointers_.push_back(text.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(texts_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<char*> pointers_;
};

struct Parsed {
  ParseOutcome outcome;
  RunOptions options;
};

Parsed Parse(std::initializer_list<std::string> list) {
  Args args(list);
  Parsed parsed;
  parsed.outcome = ParseCommandLine(args.argc(), args.argv(), &parsed.options);
  return parsed;
}

const std::string kUsage = testsupport::UsageText("mevrid");

TEST(ParseCommandLineTest, NoArgumentsIsAUsageError) {
  EXPECT_EQ(Parse({}).outcome, ParseOutcome::Usage);
  RunOptions options;
  char* only_program[] = {const_cast<char*>("mevrid"), nullptr};
  EXPECT_EQ(ParseCommandLine(1, only_program, &options), ParseOutcome::Usage);
}

TEST(ParseCommandLineTest, DefaultsBeforeAnyOption) {
  Parsed p = Parse({"free"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.ReferenceName, "");
  EXPECT_STREQ(p.options.PreProcImage, "");
  EXPECT_EQ(p.options.Verbose, 1);
  EXPECT_EQ(p.options.Begin + p.options.End + p.options.OverOlder + p.options.Remove, 0);
}

TEST(ParseCommandLineTest, SlashesAndCapitalsAreTheSameOptions) {
  Parsed p = Parse({"/K", "abc", "/P", "img"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.ReferenceName, "ABC");
  EXPECT_STREQ(p.options.PreProcImage, "img");
  p = Parse({"/B", "-E", "/g", "-Q", "/R"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_EQ(p.options.Begin, 1);
  EXPECT_EQ(p.options.End, 1);
  EXPECT_EQ(p.options.OverOlder, 1);
  EXPECT_EQ(p.options.Verbose, 0);
  EXPECT_EQ(p.options.Remove, 1);
}

TEST(ParseCommandLineTest, OnlyTheLetterAfterTheSwitchCounts) {
  // "-kabc img": the text after the letter is ignored, the next argument is the value.
  Parsed p = Parse({"-kabc", "img"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.ReferenceName, "IMG");
  p = Parse({"-remove", "-quiet"});
  EXPECT_EQ(p.options.Remove, 1);
  EXPECT_EQ(p.options.Verbose, 0);
}

TEST(ParseCommandLineTest, OnlyLettersAToZAreRaised) {
  Parsed p = Parse({"-k", "a-z_{}\xe4\xf6 m1", "-p", "Mixed Case \\img"});
  EXPECT_STREQ(p.options.ReferenceName, "A-Z_{}\xe4\xf6 M1");
  EXPECT_STREQ(p.options.PreProcImage, "Mixed Case \\img");
}

TEST(ParseCommandLineTest, ValueMissingOrLookingLikeAnOption) {
  EXPECT_EQ(Parse({"-k"}).outcome, ParseOutcome::Usage);
  EXPECT_EQ(Parse({"-k", "abc", "-p"}).outcome, ParseOutcome::Usage);
  EXPECT_EQ(Parse({"-k", "-r"}).outcome, ParseOutcome::Usage);
  EXPECT_EQ(Parse({"-k", "/r"}).outcome, ParseOutcome::Usage);
  EXPECT_EQ(Parse({"-p", "-"}).outcome, ParseOutcome::Usage);
  // The value is consumed: "-k -o" is an error, not a no-op, and "-p /x"
  // does not reach "/x" as an option.
  EXPECT_EQ(Parse({"-k", "-o"}).outcome, ParseOutcome::Usage);
  Parsed p = Parse({"-k", "x", "-p", "o", "-r"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.PreProcImage, "o");
}

TEST(ParseCommandLineTest, EmptyValueIsLeftToValidation) {
  Parsed p = Parse({"-k", "", "-p", ""});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.ReferenceName, "");
  EXPECT_FALSE(IsValidReferenceRequest(p.options));
}

TEST(ParseCommandLineTest, RepeatedOptionOverwrites) {
  Parsed p = Parse({"-k", "first-longer", "-k", "second", "-p", "one", "-p", "two"});
  EXPECT_STREQ(p.options.ReferenceName, "SECOND");
  EXPECT_STREQ(p.options.PreProcImage, "two");
}

TEST(ParseCommandLineTest, UnknownLettersAreUsageErrors) {
  for (const char* arg : {"-x", "/?", "--", "-1", "/ ", "-\xc4"}) EXPECT_EQ(Parse({arg, "v"}).outcome, ParseOutcome::Usage) << arg;
  // Even after a complete request.
  EXPECT_EQ(Parse({"-k", "abc", "-p", "img", "-z"}).outcome, ParseOutcome::Usage);
}

TEST(ParseCommandLineTest, FreeAndOneCharacterArgumentsAreIgnored) {
  Parsed p = Parse({"-", "/", "x", "-k", "abc", "free", "-p", "img", "more", "-"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.ReferenceName, "ABC");
  EXPECT_STREQ(p.options.PreProcImage, "img");
  EXPECT_EQ(p.options.Remove, 0);
}

TEST(ParseCommandLineTest, NoOpWinsOnlyWhenReachedFirst) {
  EXPECT_EQ(Parse({"-o"}).outcome, ParseOutcome::NoOp);
  EXPECT_EQ(Parse({"-o", "-x"}).outcome, ParseOutcome::NoOp);
  EXPECT_EQ(Parse({"-x", "-o"}).outcome, ParseOutcome::Usage);
  EXPECT_EQ(Parse({"-k", "abc", "-e", "/O", "-k"}).outcome, ParseOutcome::NoOp);
  EXPECT_EQ(Parse({"-ON"}).outcome, ParseOutcome::NoOp);
}

TEST(ParseCommandLineTest, ValuesUpTo259CharactersAreKeptWhole) {
  std::string longest(259, 'n');
  Parsed p = Parse({"-k", longest, "-p", longest});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_EQ(std::string(p.options.ReferenceName), std::string(259, 'N'));
  EXPECT_EQ(std::string(p.options.PreProcImage), longest);
}

// A value too long for its field is kept as no value, never cut: the request
// is then refused by validation, but the value does not outrank the options
// that do not use it.
TEST(ParseCommandLineTest, LongerValuesAreDroppedNotCut) {
  const std::string too_long(260, 'n');
  Parsed p = Parse({"-k", too_long, "-p", "img"});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.ReferenceName, "");
  EXPECT_FALSE(IsValidReferenceRequest(p.options));
  p = Parse({"-k", "abc", "-p", too_long});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_STREQ(p.options.PreProcImage, "");
  EXPECT_FALSE(IsValidReferenceRequest(p.options));
  // With "-r" the image is not used, so its length does not matter.
  p = Parse({"-p", too_long, "-k", "abc", "-r"});
  EXPECT_TRUE(IsValidReferenceRequest(p.options));
  EXPECT_STREQ(p.options.ReferenceName, "ABC");
  // A later value replaces a dropped one, and a dropped one an earlier value.
  EXPECT_STREQ(Parse({"-k", too_long, "-k", "abc"}).options.ReferenceName, "ABC");
  EXPECT_STREQ(Parse({"-k", "abc", "-k", std::string(5000, 'x')}).options.ReferenceName, "");
  // Not a parse error: "-o" after it still ends the run, "-e" still runs.
  EXPECT_EQ(Parse({"-p", too_long, "-o"}).outcome, ParseOutcome::NoOp);
  p = Parse({"-e", "-p", too_long});
  EXPECT_EQ(p.outcome, ParseOutcome::Run);
  EXPECT_EQ(p.options.End, 1);
}

RunOptions Request(const std::string& name, const std::string& image, bool remove) {
  RunOptions options;
  snprintf(options.ReferenceName, sizeof options.ReferenceName, "%s", name.c_str());
  snprintf(options.PreProcImage, sizeof options.PreProcImage, "%s", image.c_str());
  options.Remove = remove ? 1 : 0;
  return options;
}

TEST(ValidateRequestTest, NameAndImageRules) {
  EXPECT_TRUE(IsValidReferenceRequest(Request("ABC", "img", false)));
  EXPECT_TRUE(IsValidReferenceRequest(Request("ABC", "", true)));
  EXPECT_TRUE(IsValidReferenceRequest(Request("ABC", "img", true)));
  EXPECT_FALSE(IsValidReferenceRequest(Request("ABC", "", false)));
  EXPECT_FALSE(IsValidReferenceRequest(Request("", "img", false)));
  EXPECT_FALSE(IsValidReferenceRequest(Request("", "", true)));
}

TEST(ValidateRequestTest, NameMustFormItsKeyPath) {
  EXPECT_TRUE(IsValidReferenceRequest(Request(std::string(kMaxReferenceName, 'A'), "img", false)));
  EXPECT_FALSE(IsValidReferenceRequest(Request(std::string(kMaxReferenceName + 1, 'A'), "img", false)));
  EXPECT_FALSE(IsValidReferenceRequest(Request(std::string(kMaxReferenceName + 1, 'A'), "", true)));
  EXPECT_FALSE(IsValidReferenceRequest(Request("..\\..\\CURRENTVERSION", "", true)));
  EXPECT_FALSE(IsValidReferenceRequest(Request("A\\", "img", false)));
  EXPECT_TRUE(IsValidReferenceRequest(Request("A/B.C", "img", false)));
}

// The entry point's own modes, which touch no service and no key.
struct Ran {
  int status;
  std::string out;
};

Ran RunTool(std::initializer_list<std::string> list) {
  Args args(list);
  testing::internal::CaptureStdout();
  int status = RunMevrid(args.argc(), args.argv());
  return {status, testing::internal::GetCapturedStdout()};
}

TEST(RunMevridTest, UsageErrorsPrintTheUsageTextEvenWhenQuiet) {
  for (auto args : std::vector<std::vector<std::string>>{
           {}, {"-x"}, {"-q", "-x"}, {"-q", "-k"}, {"-k", "-r"}, {"-q", "-k", "abc"}, {"-k", "abc", "-q"},
           {"-p", "img"}, {"-q", "-r"}, {"-k", std::string(205, 'a'), "-p", "img"}, {"-k", "a\\b", "-r", "-q"},
           {"-k", std::string(260, 'a'), "-r"}, {"-x", "-o"}}) {
    std::vector<char*> argv{const_cast<char*>("mevrid")};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStdout();
    int status = RunMevrid(static_cast<int>(argv.size() - 1), argv.data());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), kUsage) << args.size();
    EXPECT_EQ(status, 1);
  }
}

TEST(RunMevridTest, NoOpPrintsNothingAndSucceeds) {
  for (Ran ran : {RunTool({"-o"}), RunTool({"-o", "-x"}), RunTool({"-k", "abc", "-e", "-o", "-q"}),
                  RunTool({"-q", "-b", "/o"})}) {
    EXPECT_EQ(ran.out, "");
    EXPECT_EQ(ran.status, 0);
  }
}

TEST(RunMevridTest, UsageNamesTheProgramAsInvoked) {
  char* argv[] = {const_cast<char*>("C:\\Tools\\MEVRID.EXE"), const_cast<char*>("/?"), nullptr};
  testing::internal::CaptureStdout();
  EXPECT_EQ(RunMevrid(2, argv), 1);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.rfind("\nUsage : C:\\Tools\\MEVRID.EXE -k ReferenceName", 0), 0u) << out;
}

}  // namespace
