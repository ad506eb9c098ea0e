#include "util/multi_string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

// The boundaries each reader of the registry's multi-strings relies on: an
// empty string inside the data, the final terminators, none at all.
TEST(MultiStringTest, SplitsAndEndsWhereTheRegistryDoes) {
  struct Case {
    std::string data;
    Strings split;  // SplitAtNul
    Strings items;  // MultiStringItems
  };
  const Case cases[] = {
      {std::string(), {}, {}},
      {std::string("\0", 1), {""}, {}},
      {std::string("a\0b\0\0", 5), {"a", "b", ""}, {"a", "b"}},
      {std::string("a\0\0b\0", 5), {"a", "", "b"}, {"a"}},
      {std::string("a\0b", 3), {"a", "b"}, {"a", "b"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SplitAtNul(c.data), c.split) << testing::PrintToString(c.data);
    EXPECT_EQ(MultiStringItems(c.data), c.items) << testing::PrintToString(c.data);
    // The same list read from memory, where the block always ends with an
    // empty string.
    const std::string block = c.data + std::string(2, '\0');
    EXPECT_EQ(MultiStringItems(block.c_str()), c.items) << testing::PrintToString(c.data);
  }
  EXPECT_EQ(MultiStringItems(static_cast<const char*>(nullptr)), Strings());
}

}  // namespace
