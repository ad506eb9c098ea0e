#include "platform/ascii_case.h"

#include <clocale>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

struct FoldCase {
  const char* a;
  const char* b;
  bool equal;
};

// ASCII letters fold both ways; digits, punctuation and every byte of 0x80
// or above (é and É in cp1252 or Latin-1, the Turkish dotless ı) stay as
// they are.
constexpr FoldCase kFoldCases[] = {
    {"References", "REFERENCES", true},
    {"currentversion", "CurrentVersion", true},
    {"vtrin", "VTRIN", true},
    {"", "", true},
    {"Reference", "References", false},
    {"References", "Reference", false},
    {"@[`{", "@[`{", true},
    {"@", "`", false},        // 0x40 and 0x60 differ by the case bit but are not letters
    {"[", "{", false},        // 0x5B and 0x7B likewise
    {"\xE9", "\xC9", false},  // é and É are not ASCII letters
    {"I", "\xFD", false},     // nor is the Turkish dotless ı the lower I
    {"\xE9", "\xE9", true},
};

void ExpectTable() {
  for (const FoldCase& c : kFoldCases)
    EXPECT_EQ(EqualsIgnoringAsciiCase(c.a, c.b), c.equal) << '"' << c.a << "\" vs \"" << c.b << '"';
  EXPECT_EQ(AsciiLower('Q'), 'q');
  EXPECT_EQ(AsciiUpper('q'), 'Q');
  EXPECT_EQ(AsciiLower('\xC9'), '\xC9');
  EXPECT_EQ(AsciiUpper('\xE9'), '\xE9');
  char name[] = "alpha-\xE9t\xE9_9";
  UpperAsciiInPlace(name);
  EXPECT_STREQ(name, "ALPHA-\xE9T\xE9_9");
}

TEST(AsciiCaseTest, FoldsAsciiLettersOnly) { ExpectTable(); }

// The probe sets the user's locale for the whole process; the fold gives the
// same answers under every locale this machine has of those tried.
TEST(AsciiCaseTest, TheProcessLocaleDoesNotMatter) {
  const std::string before = setlocale(LC_ALL, nullptr);
  int tried = 0;
  for (const char* locale : {"C", "C.UTF-8", "de_DE.ISO-8859-1", "tr_TR.ISO-8859-9", "tr_TR.UTF-8",
                             "German_Germany.1252", "Turkish_Turkey.1254"}) {
    if (setlocale(LC_ALL, locale) == nullptr) continue;
    ++tried;
    SCOPED_TRACE(locale);
    ExpectTable();
  }
  setlocale(LC_ALL, before.c_str());
  EXPECT_GE(tried, 1);
}

}  // namespace
