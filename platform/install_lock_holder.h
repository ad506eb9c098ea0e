// Who may run under the install lock's present holding, decided the same way
// on both platforms. The holder records itself where the lock lives (its
// process id, the moment the process was created, and a number drawn for this
// holding) and puts the same text in its environment for what it starts.
// Knowing that text proves nothing: any process can read the record. A run
// goes ahead under the holding only when the text it inherited is the record
// and the recorded process is one of its own ancestors, found by walking the
// parent links the system keeps; every other run waits.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// A process named so that a reused process id names another one: the id and
// the moment it was created, in the platform's own ticks.
struct ProcessStamp {
  uint64_t Id = 0;
  uint64_t Created = 0;
  bool operator==(const ProcessStamp&) const = default;
};

// The parent of a process still running, stamped; false when it has none or
// it can no longer be read.
using ParentLookup = std::function<bool(const ProcessStamp& child, ProcessStamp* parent)>;

// Whether `ancestor` is a parent, grandparent and so on of `self`. A parent id
// whose process was created after its child is a reused id: the real parent
// has ended, and the chain stops there.
bool DescendsFrom(const ProcessStamp& self, const ProcessStamp& ancestor, const ParentLookup& parent_of);

// The record of one holding: "id:created:holding".
std::string HolderRecord(const ProcessStamp& holder, uint64_t holding);

// The holder a record names; false when the text is no record.
bool RecordedHolder(const std::string& record, ProcessStamp* holder);

// Whether this run goes ahead under the present holding: the text it
// inherited is the holding's record, and the recorded holder is its ancestor.
bool RunsUnderHolding(const std::string& inherited, const std::string& record, const ProcessStamp& self,
                      const ParentLookup& parent_of);
