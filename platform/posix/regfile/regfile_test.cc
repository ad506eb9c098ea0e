// .reg import and export: every form regedit reads and writes, the stored
// bytes each one gives, malformed files refused whole, and export/import
// giving back the same tree.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/posix/admin.h"
#include "platform/posix/registry/registry_store.h"
#include "tests/support/test_machine.h"

namespace {

namespace store = emu::store;

constexpr char kHeader5[] = "Windows Registry Editor Version 5.00\r\n\r\n";

class RegFileTest : public ::testing::Test {
 protected:
  static bool Import(const std::string& text, std::string* error = nullptr) {
    std::string ignored;
    return emu::admin::ImportRegText(text, error ? error : &ignored);
  }
  static std::string Export(const std::string& key) {
    std::string text, error;
    if (!emu::admin::ExportRegText(key, &text, &error)) return "export failed: " + error;
    return text;
  }
  // The stored type and bytes of a value, "absent" when there is none.
  static std::pair<uint32_t, std::string> Stored(const std::string& key, const std::string& name) {
    store::Value value;
    int64_t id = store::FindKey(store::kRootKeyId, key);
    if (id == store::kNoKey || !store::GetValue(id, name, &value)) return {0, "absent"};
    return {value.type, value.data};
  }
  // Every key, value, type and byte below a key, for exact comparisons.
  static std::vector<std::tuple<std::string, std::string, uint32_t, std::string>> Dump(const std::string& key) {
    std::vector<std::tuple<std::string, std::string, uint32_t, std::string>> rows;
    DumpInto(store::FindKey(store::kRootKeyId, key), &rows);
    return rows;
  }
  static void DumpInto(int64_t id, std::vector<std::tuple<std::string, std::string, uint32_t, std::string>>* rows) {
    rows->emplace_back(store::KeyPath(id), "", 0, "");
    for (const store::Value& value : store::Values(id)) rows->emplace_back("", value.name, value.type, value.data);
    for (const auto& child : store::Subkeys(id)) DumpInto(child.first, rows);
  }
  static std::string Utf16(const std::string& text) {
    std::string out = "\xFF\xFE";
    for (char c : text) out += std::string{c, '\0'};
    return out;
  }

  testsupport::TestMachine machine_;
};

// --- Import -----------------------------------------------------------------

TEST_F(RegFileTest, Version5FormsStoreWhatRegeditStores) {
  ASSERT_TRUE(Import(std::string(kHeader5) +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm\\KelmZAQ\\Current Version]\r\n"
                     "\"Version\"=\"3.2\"\r\n"
                     "\"Path\"=\"C:\\\\Program Files\\\\\\\"Q\\\"\"\r\n"
                     "@=\"default\"\r\n"
                     "\"Start\"=dword:0000000A\r\n"
                     "\"Bin\"=hex:00,ff,7F\r\n"
                     "\"Empty\"=hex:\r\n"
                     "\"Image\"=hex(2):25,00,53,00,52,00,25,00,00,00\r\n"
                     "\"Deps\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
                     "\"Big\"=hex(b):01,00,00,00,00,00,00,00\r\n"
                     "\"Text\"=\"\"\r\n"));
  const std::string key = "SOFTWARE\\Kelm\\KelmZAQ\\Current Version";
  EXPECT_EQ(Stored(key, "Version"), std::make_pair(1u, std::string("3.2\0", 4)));
  EXPECT_EQ(Stored(key, "Path"), std::make_pair(1u, std::string("C:\\Program Files\\\"Q\"\0", 21)));
  EXPECT_EQ(Stored(key, ""), std::make_pair(1u, std::string("default\0", 8)));
  EXPECT_EQ(Stored(key, "Start"), std::make_pair(4u, std::string("\x0A\0\0\0", 4)));
  EXPECT_EQ(Stored(key, "Bin"), std::make_pair(3u, std::string("\x00\xff\x7f", 3)));
  EXPECT_EQ(Stored(key, "Empty"), std::make_pair(3u, std::string()));
  EXPECT_EQ(Stored(key, "Image"), std::make_pair(2u, std::string("%SR%\0", 5)));
  EXPECT_EQ(Stored(key, "Deps"), std::make_pair(7u, std::string("a\0b\0\0", 5)));
  EXPECT_EQ(Stored(key, "Big"), std::make_pair(11u, std::string("\1\0\0\0\0\0\0\0", 8)));
  EXPECT_EQ(Stored(key, "Text"), std::make_pair(1u, std::string("\0", 1)));
}

TEST_F(RegFileTest, Regedit4CarriesEightBitStringData) {
  ASSERT_TRUE(Import("REGEDIT4\n\n[HKLM\\SOFTWARE\\Four]\n\"Image\"=hex(2):25,53,52,25,00\n\"v\"=\"x\"\n"));
  EXPECT_EQ(Stored("SOFTWARE\\Four", "Image"), std::make_pair(2u, std::string("%SR%\0", 5)));
  EXPECT_EQ(Stored("SOFTWARE\\Four", "v"), std::make_pair(1u, std::string("x\0", 2)));
}

TEST_F(RegFileTest, HexDataContinuesOverLinesWithCommentsBetween) {
  ASSERT_TRUE(Import(std::string(kHeader5) +
                     "; a comment before the key\n"
                     "  [HKLM\\SOFTWARE\\Wrapped]  \n"
                     "\"Long\"=hex:01,02,\\\n"
                     "  03,04,\\\r\n"
                     "; a comment inside the data\n"
                     "\t05 , 06 ; and after it\n"
                     "\"After\" = dword:1 ; spaces around '=' and a comment\n"));
  EXPECT_EQ(Stored("SOFTWARE\\Wrapped", "Long"), std::make_pair(3u, std::string("\1\2\3\4\5\6", 6)));
  EXPECT_EQ(Stored("SOFTWARE\\Wrapped", "After"), std::make_pair(4u, std::string("\1\0\0\0", 4)));
}

TEST_F(RegFileTest, TheUtf16FileRegeditWritesIsRead) {
  ASSERT_TRUE(Import(Utf16(std::string(kHeader5) + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wide]\r\n\"v\"=\"caf\xE9\"\r\n"
                                                   "\"e\"=hex(2):41,00,00,01\r\n")));
  EXPECT_EQ(Stored("SOFTWARE\\Wide", "v"), std::make_pair(1u, std::string("caf\xE9\0", 5)));
  // A character beyond Latin-1 arrives as '?', as the A calls would see it.
  EXPECT_EQ(Stored("SOFTWARE\\Wide", "e"), std::make_pair(2u, std::string("A?", 2)));
  // And a UTF-8 file with its byte order mark.
  ASSERT_TRUE(Import("\xEF\xBB\xBFREGEDIT4\n[HKLM\\SOFTWARE\\Bom]\n\"v\"=\"1\"\n"));
  EXPECT_EQ(Stored("SOFTWARE\\Bom", "v"), std::make_pair(1u, std::string("1\0", 2)));
}

TEST_F(RegFileTest, DeletionLinesRemoveTreesAndValues) {
  ASSERT_TRUE(Import(std::string(kHeader5) +
                     "[HKLM\\SOFTWARE\\Gone\\Deep\\Deeper]\n\"v\"=\"1\"\n"
                     "[HKLM\\SOFTWARE\\Stays]\n\"keep\"=\"1\"\n\"drop\"=\"2\"\n"));
  ASSERT_TRUE(Import(std::string(kHeader5) +
                     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\gone]\n"
                     "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\NeverWasThere]\n"
                     "[HKLM\\SOFTWARE\\Stays]\n\"DROP\"=-\n\"missing\"=-\n"));
  EXPECT_EQ(store::FindKey(store::kRootKeyId, "SOFTWARE\\Gone"), store::kNoKey);
  EXPECT_EQ(Stored("SOFTWARE\\Stays", "keep"), std::make_pair(1u, std::string("1\0", 2)));
  EXPECT_EQ(Stored("SOFTWARE\\Stays", "drop").second, "absent");
}

TEST_F(RegFileTest, MalformedLinesAreRefusedWithTheirNumberAndNothingChanges) {
  const std::string good = std::string(kHeader5) + "[HKLM\\SOFTWARE\\First]\n\"v\"=\"1\"\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"REGEDIT5\n[HKLM\\SOFTWARE\\First]\n",
       "line 1: not a registry file: expected \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\""},
      {"", "line 1: the file is empty"},
      {good + "[HKEY_CURRENT_USER\\Software]\n",
       "line 5: only HKEY_LOCAL_MACHINE keys can be imported, not 'HKEY_CURRENT_USER'"},
      {good + "[HKLM\\SOFTWARE\\Open\n", "line 5: key line without a closing ']'"},
      {good + "[HKLM\\SOFTWARE\\X] junk\n", "line 5: text after the key's ']'"},
      {good + "[HKLM\\SOFTWARE\\\\X]\n", "line 5: empty key name in 'HKLM\\SOFTWARE\\\\X'"},
      {good + "[-HKLM]\n", "line 5: HKEY_LOCAL_MACHINE itself cannot be deleted"},
      {good + "[HKLM\\" + std::string(256, 'k') + "]\n", "line 5: key name longer than 255 characters"},
      {std::string(kHeader5) + "\"v\"=\"1\"\n", "line 3: value line before any key line"},
      {good + "[-HKLM\\SOFTWARE\\First]\n\"v\"=\"1\"\n", "line 6: value line under a deleted key"},
      {good + "\"open=\"1\n", "line 5: expected '=' after the value name"},
      {good + "\"name\n", "line 5: quoted text without its closing '\"'"},
      {good + "\"v\"=\"a\\nb\"\n", "line 5: unknown escape in a quoted text (only \\\\ and \\\" are understood)"},
      {good + "\"v\"=\"a\" b\n", "line 5: text after the quoted data"},
      {good + "\"v\" \"1\"\n", "line 5: expected '=' after the value name"},
      {good + "\"v\"=dword:123456789\n", "line 5: dword: needs one to eight hex digits"},
      {good + "\"v\"=dword:\n", "line 5: dword: needs one to eight hex digits"},
      {good + "\"v\"=dword:12 34\n", "line 5: text after the dword"},
      {good + "\"v\"=hex:0g\n", "line 5: expected ',' between hex bytes"},
      {good + "\"v\"=hex:zz\n", "line 5: bad hex byte 'zz'"},
      {good + "\"v\"=hex:01 02\n", "line 5: expected ',' between hex bytes"},
      {good + "\"v\"=hex(2:01\n", "line 5: hex(N): needs a hex type number"},
      {good + "\"v\"=hex;01\n", "line 5: expected ':' after hex"},
      {good + "\"v\"=hex:01,\\ x\n", "line 5: text after the continuation '\\'"},
      {good + "\"v\"=hex:01,\\\n  02,\\\n", "line 6: the hex data continues past the end of the file"},
      {good + "\"v\"=hex(2):41,00,42\n", "line 5: string data of odd length is not UTF-16"},
      {good + "\"v\"=str:\"x\"\n",
       "line 5: unrecognised value data (expected \"text\", -, dword:, hex: or hex(N):)"},
      {good + "\"v\"=- x\n", "line 5: text after '-'"},
      {good + "junk\n", "line 5: not a key, value or comment line"},
      {"\xFF\xFE\x41", "the UTF-16 text ends in half a character"},
  };
  const std::string before = Export("");
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(Import(c.text, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  // Not even the good key before the bad line came in.
  EXPECT_EQ(store::FindKey(store::kRootKeyId, "SOFTWARE\\First"), store::kNoKey);
  EXPECT_EQ(Export(""), before);
}

// --- Export -----------------------------------------------------------------

TEST_F(RegFileTest, ExportWritesEveryKeyDepthFirstInRegeditsNotation) {
  int64_t top = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Kelm Computer Corporation\\KelmKOTA", "");
  int64_t version = store::CreateKey(top, "CurrentVersion", "");
  store::SetValue(version, "Version", 1, "4.0");  // as the tool writes it: no terminator
  store::SetValue(version, "UnInstallImage", 2, "C:\\W\\m.exe");
  int64_t references = store::CreateKey(top, "References", "");
  store::CreateKey(references, "beta", "");
  int64_t alpha = store::CreateKey(references, "ALPHA", "");
  store::SetValue(alpha, "Quote\"d\\", 1, std::string("say \"hi\" C:\\x\0", 14));
  store::SetValue(alpha, "", 1, std::string("\0", 1));
  store::SetValue(alpha, "Inner", 1, std::string("a\0b\0", 4));
  store::SetValue(alpha, "Lines", 1, std::string("a\nb\0", 4));
  store::SetValue(alpha, "Count", 4, std::string("\x2a\0\0\x80", 4));
  store::SetValue(alpha, "Short", 4, std::string("\1\2", 2));
  store::SetValue(alpha, "Multi", 7, std::string("a\0\0", 3));
  store::SetValue(alpha, "Blob", 3, "");
  store::SetValue(alpha, "Link", 6, "L");

  EXPECT_EQ(Export("HKEY_LOCAL_MACHINE\\software\\kelm computer corporation\\kelmkota"),
            "Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\CurrentVersion]\r\n"
            "\"Version\"=\"4.0\"\r\n"
            "\"UnInstallImage\"=hex(2):43,00,3a,00,5c,00,57,00,5c,00,6d,00,2e,00,65,00,78,00,\\\r\n"
            "  65,00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References]\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\ALPHA]\r\n"
            "\"Quote\\\"d\\\\\"=\"say \\\"hi\\\" C:\\\\x\"\r\n"
            "@=\"\"\r\n"
            "\"Inner\"=hex(1):61,00,00,00,62,00,00,00\r\n"
            "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\r\n"
            "\"Count\"=dword:8000002a\r\n"
            "\"Short\"=hex(4):01,02\r\n"
            "\"Multi\"=hex(7):61,00,00,00,00,00\r\n"
            "\"Blob\"=hex:\r\n"
            "\"Link\"=hex(6):4c\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelm Computer Corporation\\KelmKOTA\\References\\beta]\r\n\r\n");
}

TEST_F(RegFileTest, LongHexDataWrapsAtRegeditsWidth) {
  int64_t key = store::CreateKey(store::kRootKeyId, "SYSTEM\\CurrentControlSet\\Services\\ACPI", "");
  store::SetValue(key, "ImagePath", 2, std::string("System32\\Drivers\\acpi.sys\0", 26));
  std::string text = Export("SYSTEM\\CurrentControlSet\\Services\\ACPI");
  // The shape regedit gives this value: 20 bytes on the first line, 25 on
  // each full continuation line, none passing 80 columns.
  EXPECT_NE(text.find("\"ImagePath\"=hex(2):53,00,79,00,73,00,74,00,65,00,6d,00,33,00,32,00,5c,00,44,00,\\\r\n"
                      "  72,00,69,00,76,00,65,00,72,00,73,00,5c,00,61,00,63,00,70,00,69,00,2e,00,73,\\\r\n"
                      "  00,79,00,73,00,00,00\r\n"),
            std::string::npos)
      << text;
  store::SetValue(key, "Blob", 3, std::string(300, '\x11'));
  text = Export("SYSTEM\\CurrentControlSet\\Services\\ACPI");
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    start = end + 2;
  }
}

TEST_F(RegFileTest, ExportOfTheRootAndOfAMissingKey) {
  std::string text = Export("HKLM");
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n", 0), 0u) << text;
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]\r\n"),
            std::string::npos);
  EXPECT_EQ(Export(""), text);
  std::string out = "untouched", error;
  EXPECT_FALSE(emu::admin::ExportRegText("SOFTWARE\\Missing", &out, &error));
  EXPECT_EQ(error, "no key HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing");
  EXPECT_EQ(out, "untouched");
  store::SetValue(store::CreateKey(store::kRootKeyId, "SOFTWARE\\Bad", ""), "two\nlines", 1, std::string("x\0", 2));
  EXPECT_FALSE(emu::admin::ExportRegText("SOFTWARE\\Bad", &out, &error));
  EXPECT_EQ(error, "the value name 'two\nlines' in SOFTWARE\\Bad holds a line break, which a .reg file cannot");
}

// --- Round trip ---------------------------------------------------------------

TEST_F(RegFileTest, ImportingAnExportGivesBackTheSameTree) {
  int64_t top = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Round", "");
  std::string every_byte;
  for (int i = 0; i < 256; ++i) every_byte += static_cast<char>(i);
  store::SetValue(top, "bytes", 3, every_byte);
  store::SetValue(top, "ended", 1, std::string("ended\0", 6));
  store::SetValue(top, "empty sz", 1, std::string("\0", 1));
  store::SetValue(top, "latin", 1, std::string("caf\xE9\0", 5));
  store::SetValue(top, "", 2, "%SystemRoot%\\x.exe -o");
  store::SetValue(top, "\"odd\\name\"", 7, std::string("one\0two\0\0", 9));
  store::SetValue(top, "dword", 4, std::string("\xff\xff\xff\xff", 4));
  store::SetValue(top, "qword", 11, std::string(8, '\x7f'));
  store::SetValue(top, "none", 0, "");
  store::SetValue(top, "long text", 2, std::string(400, 'y'));
  for (const char* path : {"b\\deep\\deeper", "A", "a_b", "C with space"})
    store::SetValue(store::CreateKey(top, path, ""), "v", 1, std::string(path) + '\0');

  auto before = Dump("SOFTWARE\\Round");
  std::string text = Export("SOFTWARE\\Round");
  ASSERT_TRUE(store::DeleteTree(top));
  std::string error;
  ASSERT_TRUE(Import(text, &error)) << error << "\n" << text;
  EXPECT_EQ(Dump("SOFTWARE\\Round"), before);
  EXPECT_EQ(Export("SOFTWARE\\Round"), text);
}

// The tool writes its strings without a terminator; regedit shows them as
// text all the same, and importing that text stores it with a terminator.
TEST_F(RegFileTest, AStringWithoutTerminatorExportsAsTextAndImportsTerminated) {
  int64_t key = store::CreateKey(store::kRootKeyId, "SOFTWARE\\Bare", "");
  store::SetValue(key, "bare", 1, "no terminator");
  store::SetValue(key, "empty", 1, "");
  std::string text = Export("SOFTWARE\\Bare");
  EXPECT_EQ(text, std::string(kHeader5) +
                      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Bare]\r\n"
                      "\"bare\"=\"no terminator\"\r\n"
                      "\"empty\"=\"\"\r\n\r\n");
  ASSERT_TRUE(store::DeleteTree(key));
  ASSERT_TRUE(Import(text));
  EXPECT_EQ(Stored("SOFTWARE\\Bare", "bare"),
            std::make_pair(1u, std::string("no terminator\0", 14)));
}

TEST_F(RegFileTest, ExportingAnImportGivesBackTheSameText) {
  const std::string text = std::string(kHeader5) +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Seed]\r\n"
                           "\"Version\"=\"3.2\"\r\n"
                           "\"Start\"=dword:00000002\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Seed\\Sub]\r\n"
                           "@=\"x\"\r\n\r\n";
  ASSERT_TRUE(Import(text));
  EXPECT_EQ(Export("SOFTWARE\\Seed"), text);
}

}  // namespace
