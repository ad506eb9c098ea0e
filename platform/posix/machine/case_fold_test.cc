// Names compare as Windows compares them, beyond ASCII: UTF-8 names by
// their characters' upper case, other names as code page 1252 bytes.
#include <gtest/gtest.h>

#include <string>

#include "platform/posix/admin.h"
#include "platform/posix/machine.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"
#include "tests/support/test_machine.h"

namespace {

TEST(CaseFold, NamesFoldAsWindowsFoldsThem) {
  struct Case {
    const char* a;
    const char* b;
    bool equal;
  };
  for (const Case& c : {
           Case{"vtrin", "VTRIN", true},
           // UTF-8, as a Linux shell passes "café" and "CAFÉ".
           Case{"caf\xC3\xA9", "CAF\xC3\x89", true},
           Case{"\xC3\xBF", "\xC5\xB8", true},                  // ÿ Ÿ
           Case{"\xC5\xA1\xC5\x93\xC5\xBE", "\xC5\xA0\xC5\x92\xC5\xBD", true},  // šœž ŠŒŽ
           Case{"\xCE\xB1\xCF\x82", "\xCE\x91\xCE\xA3", true},  // ας ΑΣ
           Case{"\xD0\xB4\xD1\x91", "\xD0\x94\xD0\x81", true},  // дё ДЁ
           Case{"caf\xC3\xA9", "cafe", false},
           Case{"\xC3\xB7", "\xC3\x97", false},                 // ÷ × are no pair
           // Code page 1252 bytes, as a Windows program passes them.
           Case{"caf\xE9", "CAF\xC9", true},
           Case{"\x9A\x9C\x9E\xFF", "\x8A\x8C\x8E\x9F", true},  // šœžÿ ŠŒŽŸ
           Case{"\xE0\xFE", "\xC0\xDE", true},
           Case{"\xF7", "\xD7", false},
           Case{"caf\xE9", "cafe", false},
       }) {
    EXPECT_EQ(emu::EqualsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(emu::Upper(c.a), emu::Upper(emu::Upper(c.a))) << "folding twice changes " << c.a;
  }
}

// A machine made by a build that folded ASCII letters only keeps "CAF\xC3\xA9"
// as the folded name of "caf\xC3\xA9": opened by this build, it is found by
// every spelling.
TEST(CaseFold, OlderMachinesAreRefoldedWhenOpened) {
  testsupport::TestMachine machine;
  int64_t key = emu::store::CreateKey(emu::store::kRootKeyId, "SOFTWARE\\caf\xC3\xA9", "");
  ASSERT_NE(key, emu::store::kNoKey);
  emu::Statement older(emu::Db(), "UPDATE reg_keys SET uname='CAF\xC3\xA9' WHERE id=?1");
  ASSERT_TRUE(older.Bind(1, key).Run());
  ASSERT_TRUE(emu::Statement(emu::Db(), "PRAGMA user_version=1").Run());
  std::string error;
  ASSERT_TRUE(emu::OpenMachine(machine.dir(), false, &error)) << error;
  EXPECT_EQ(emu::store::FindKey(emu::store::kRootKeyId, "SOFTWARE\\CAF\xC3\x89"), key);
  EXPECT_EQ(emu::store::FindKey(emu::store::kRootKeyId, "SOFTWARE\\caf\xC3\xA9"), key);
}

}  // namespace
