#include "platform/install_lock_holder.h"

#include <cstdlib>

namespace {

// Deeper than any chain of installers and pre-processors; a lookup that
// loops (a broken process table) ends here.
constexpr int kMaxGenerations = 256;

}  // namespace

// "id:created:" followed by the holding.
bool RecordedHolder(const std::string& record, ProcessStamp* holder) {
  const char* text = record.c_str();
  char* end = nullptr;
  holder->Id = strtoull(text, &end, 10);
  if (end == text || *end != ':') return false;
  text = end + 1;
  holder->Created = strtoull(text, &end, 10);
  return end != text && *end == ':' && end[1] != '\0';
}

bool DescendsFrom(const ProcessStamp& self, const ProcessStamp& ancestor, const ParentLookup& parent_of) {
  ProcessStamp child = self;
  for (int generation = 0; generation < kMaxGenerations; ++generation) {
    ProcessStamp parent;
    if (!parent_of(child, &parent) || parent.Created > child.Created) return false;
    if (parent == ancestor) return true;
    child = parent;
  }
  return false;
}

std::string HolderRecord(const ProcessStamp& holder, uint64_t holding) {
  return std::to_string(holder.Id) + ":" + std::to_string(holder.Created) + ":" + std::to_string(holding);
}

bool RunsUnderHolding(const std::string& inherited, const std::string& record, const ProcessStamp& self,
                      const ParentLookup& parent_of) {
  ProcessStamp holder;
  if (inherited.empty() || inherited != record || !RecordedHolder(record, &holder)) return false;
  return DescendsFrom(self, holder, parent_of);
}
