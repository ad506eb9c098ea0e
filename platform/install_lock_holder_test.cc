#include "platform/install_lock_holder.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

// A process table: each process's parent as the system reports it now.
// Process 40 is the holder (created at tick 100); 50 is the pre-processor it
// started, 60 the tool that one started; 70 is a process the holder did not
// start, 75 its child. Process 80's parent id is 40, but that 40 was created
// at tick 900, after 80 itself: the id was reused after 80's real parent
// ended.
const ProcessStamp kHolder{40, 100};
const std::map<uint64_t, ProcessStamp> kParents = {
    {40, {1, 1}},    {50, {40, 100}}, {60, {50, 120}}, {70, {1, 1}},
    {75, {70, 300}}, {80, {40, 900}}, {81, {81, 10}},  // a table that loops
};
const std::map<uint64_t, uint64_t> kCreated = {{1, 1}, {40, 100}, {50, 120}, {60, 130}, {70, 300},
                                               {75, 310}, {80, 500}, {81, 10}};

bool ParentOf(const ProcessStamp& child, ProcessStamp* parent) {
  const auto found = kParents.find(child.Id);
  if (found == kParents.end()) return false;
  *parent = found->second;
  return true;
}

ProcessStamp Stamp(uint64_t id) { return {id, kCreated.at(id)}; }

const std::string kRecord = HolderRecord(kHolder, 77);

struct HoldingCase {
  const char* name;
  uint64_t self;
  std::string inherited;
  bool runs_under;
  std::string record = kRecord;
};
// Cases show by name in test listings and failures.
void PrintTo(const HoldingCase& c, std::ostream* os) { *os << c.name; }

const HoldingCase kHoldingCases[] = {
    {"the holder's pre-processor", 50, kRecord, true},
    {"the tool that pre-processor started", 60, kRecord, true},
    {"a process that copied the record", 70, kRecord, false},
    {"the child of one that copied it", 75, kRecord, false},
    {"a child whose parent's id was reused by the holder", 80, kRecord, false},
    {"a descendant with an earlier holding's text", 60, HolderRecord(kHolder, 76), false},
    {"a descendant that inherited nothing", 60, "", false},
    {"a record naming an earlier process with the holder's id", 60, HolderRecord({40, 99}, 77), false,
     HolderRecord({40, 99}, 77)},
    {"a process table that loops", 81, kRecord, false},
};

class RunsUnderHoldingTest : public testing::TestWithParam<HoldingCase> {};

TEST_P(RunsUnderHoldingTest, OnlyTheHoldersDescendantsGoAhead) {
  const HoldingCase& c = GetParam();
  EXPECT_EQ(RunsUnderHolding(c.inherited, c.record, Stamp(c.self), ParentOf), c.runs_under);
}

INSTANTIATE_TEST_SUITE_P(Cases, RunsUnderHoldingTest, testing::ValuesIn(kHoldingCases));

// Records that are no holding's: a text equal to them proves nothing.
TEST(RunsUnderHoldingTest, AnEmptyOrMalformedRecordNamesNoHolder) {
  for (const std::string record : {"", "40", "40:100", "40:100:", "x:100:7", "40:y:7"}) {
    SCOPED_TRACE(record);
    EXPECT_FALSE(RunsUnderHolding(record, record, Stamp(50), ParentOf));
  }
}

}  // namespace
