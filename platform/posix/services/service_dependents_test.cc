// The dependents of a service as the emulated manager enumerates them:
// active ones deepest first, the Win32 buffer layout with its strings inside
// the caller's 1440 bytes, more-data answers, and thousands of dependents
// deep or wide.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "platform/posix/machine/database.h"
#include "platform/win32.h"
#include "tests/support/scm_fixture.h"
#include "tests/support/service_definitions.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;

using testsupport::Service;

class DependentsTest : public scmtest::ScmFixture {
 protected:
  void SetUp() override {
    ScmFixture::SetUp();
    Define(Service("Base", SERVICE_RUNNING));
    for (auto [name, on, state] : {std::tuple{"Mid", "Base", SERVICE_RUNNING},
                                   {"Top", "Mid", SERVICE_RUNNING},
                                   {"Side", "Base", SERVICE_STOP_PENDING},
                                   {"Idle", "Base", SERVICE_STOPPED}}) {
      auto spec = Service(name, state);
      spec.depends = {on};
      spec.display = std::string(name) + " Display";
      spec.stop_ms = 60000;
      Define(spec);
    }
  }
  // Enumerates into a 1440-byte buffer followed by canary bytes.
  std::vector<std::string> Enum(DWORD state_mask, DWORD* error = nullptr) {
    memset(buffer_, 0xAB, sizeof buffer_);
    ScopedService base = Open("Base");
    DWORD needed = kSentinel, count = kSentinel;
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer_);
    BOOL ok = EnumDependentServicesA(base.Get(), state_mask, entries, kBufferSize, &needed, &count);
    if (error) *error = ok ? ERROR_SUCCESS : GetLastError();
    needed_ = needed;
    std::vector<std::string> names;
    for (DWORD i = 0; ok && i < count; ++i) {
      // The strings lie inside the caller's buffer.
      for (const char* text : {entries[i].lpServiceName, entries[i].lpDisplayName}) {
        EXPECT_GE(reinterpret_cast<const unsigned char*>(text), buffer_ + count * sizeof(ENUM_SERVICE_STATUSA));
        EXPECT_LT(reinterpret_cast<const unsigned char*>(text), buffer_ + kBufferSize);
      }
      EXPECT_EQ(std::string(entries[i].lpDisplayName), std::string(entries[i].lpServiceName) + " Display");
      names.push_back(std::string(entries[i].lpServiceName) + ":" +
                      std::to_string(entries[i].ServiceStatus.dwCurrentState));
    }
    for (size_t i = kBufferSize; i < sizeof buffer_; ++i) EXPECT_EQ(buffer_[i], 0xAB) << "canary byte " << i;
    return names;
  }

  static constexpr DWORD kBufferSize = 1440;
  alignas(ENUM_SERVICE_STATUSA) unsigned char buffer_[kBufferSize + 64];
  DWORD needed_ = 0;
};

TEST_F(DependentsTest, ActiveDependentsComeDeepestFirst) {
  EXPECT_EQ(Enum(SERVICE_ACTIVE), (std::vector<std::string>{"Top:4", "Mid:4", "Side:3"}));
  EXPECT_EQ(Enum(SERVICE_INACTIVE), (std::vector<std::string>{"Idle:1"}));
  EXPECT_EQ(Enum(SERVICE_STATE_ALL), (std::vector<std::string>{"Idle:1", "Top:4", "Mid:4", "Side:3"}));
  DWORD error = 0;
  EXPECT_TRUE(Enum(0, &error).empty());
  EXPECT_EQ(error, ERROR_INVALID_PARAMETER);
}

TEST_F(DependentsTest, MoreDependentsThanFitIn1440BytesAnswerMoreData) {
  // 33 entries of 48 bytes with their two strings each: 2354 bytes.
  for (int i = 0; i < 30; ++i) {
    char name[16];
    snprintf(name, sizeof name, "Extra%02d", i);
    auto spec = Service(name, SERVICE_RUNNING);
    spec.depends = {"Base"};
    spec.display = std::string(name) + " Display";
    Define(spec);
  }
  DWORD error = 0;
  EXPECT_TRUE(Enum(SERVICE_ACTIVE, &error).empty());
  EXPECT_EQ(error, ERROR_MORE_DATA);
  size_t expected = 33 * sizeof(ENUM_SERVICE_STATUSA) + 30 * (8 + 16) + (4 + 12) + (4 + 12) + (5 + 13);
  EXPECT_EQ(needed_, expected);
  for (size_t i = 0; i < kBufferSize; ++i) ASSERT_EQ(buffer_[i], 0xAB) << "written on failure at " << i;

  // Exactly the bytes needed is enough; one fewer is not.
  ScopedService base = Open("Base");
  std::vector<unsigned char> exact(expected);
  DWORD needed = 0, count = 0;
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(exact.data());
  EXPECT_TRUE(EnumDependentServicesA(base.Get(), SERVICE_ACTIVE, entries, expected, &needed, &count));
  EXPECT_EQ(count, 33u);
  ExpectError(EnumDependentServicesA(base.Get(), SERVICE_ACTIVE, entries, expected - 1, &needed, &count),
              ERROR_MORE_DATA);
  EXPECT_EQ(count, 0u);
  ExpectError(EnumDependentServicesA(base.Get(), SERVICE_ACTIVE, nullptr, 0, &needed, &count), ERROR_MORE_DATA);
  EXPECT_EQ(needed, expected);
}

// 20 000 dependents in a chain (each on the one before) and side by side
// (each on Base): the walk neither runs out of stack nor skips or repeats a
// service, and the tool's 1440-byte buffer gets ERROR_MORE_DATA with the
// exact size. Each entry: 48 bytes, "DepNNNNN" and "DepNNNNN Display".
TEST_F(DependentsTest, ThousandsOfDependentsDeepOrWideComeInOrder) {
  constexpr int kCount = 20000;
  auto dep = [](int i) {
    char name[16];
    snprintf(name, sizeof name, "Dep%05d", i);
    return std::string(name);
  };
  for (bool chain : {true, false}) {
    SCOPED_TRACE(chain ? "chain" : "side by side");
    {
      emu::Transaction tx;
      for (int i = 0; i < kCount; ++i) {
        auto spec = Service(dep(i), SERVICE_RUNNING);
        spec.depends = {chain && i > 0 ? dep(i - 1) : "Mid"};
        spec.display = dep(i) + " Display";
        Define(spec);
      }
      ASSERT_TRUE(tx.Commit());
    }
    DWORD error = 0;
    EXPECT_TRUE(Enum(SERVICE_ACTIVE, &error).empty());
    EXPECT_EQ(error, ERROR_MORE_DATA);
    size_t expected = (kCount + 3) * sizeof(ENUM_SERVICE_STATUSA) + kCount * (9 + 17) + (4 + 12) * 2 + (5 + 13);
    ASSERT_EQ(needed_, expected);

    std::vector<unsigned char> all(expected);
    auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(all.data());
    DWORD needed = 0, count = 0;
    ASSERT_TRUE(EnumDependentServicesA(Open("Base").Get(), SERVICE_ACTIVE, entries, expected, &needed, &count));
    ASSERT_EQ(count, kCount + 3u);
    // A chain comes deepest first; side by side, in the services key's order.
    for (int i = 0; i < kCount; ++i) ASSERT_STREQ(entries[i].lpServiceName, dep(chain ? kCount - 1 - i : i).c_str());
    EXPECT_STREQ(entries[kCount].lpServiceName, "Top");
    EXPECT_STREQ(entries[kCount + 1].lpServiceName, "Mid");
    EXPECT_STREQ(entries[kCount + 2].lpServiceName, "Side");
    emu::Transaction tx;
    for (int i = 0; i < kCount; ++i) {
      std::string error_text;
      ASSERT_TRUE(emu::admin::RemoveServiceDefinition(dep(i), &error_text)) << error_text;
    }
    ASSERT_TRUE(tx.Commit());
  }
}

}  // namespace
