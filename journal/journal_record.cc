// The run's record: one JSON object with the keys in a fixed order, so
// deployment scripts can read it with any JSON parser or even a pattern.
#include <string_view>

#include "journal/journal_state.h"
#include "journal/run_journal.h"
#include "util/json_string.h"

namespace {

void AppendString(std::string* out, const std::string& text) { *out += JsonString(text); }

void AppendOptional(std::string* out, const std::optional<std::string>& text) {
  if (text)
    AppendString(out, *text);
  else
    *out += "null";
}

void AppendKey(std::string* out, const char* key) {
  if (out->size() > 1) *out += ',';
  AppendString(out, key);
  *out += ':';
}

}  // namespace

std::string JournalRecordJson(int exit_status) {
  const journal_internal::State& state = journal_internal::Current();
  std::string out = "{";
  AppendKey(&out, "schema");
  out += "1";
  AppendKey(&out, "mode");
  AppendString(&out, RunModeName(state.Mode));
  AppendKey(&out, "outcome");
  AppendString(&out, RunOutcomeName(state.Outcome));
  AppendKey(&out, "exit_status");
  out += std::to_string(exit_status);
  AppendKey(&out, "changed");
  out += state.Changed ? "true" : "false";
  AppendKey(&out, "restart_required");
  out += state.RestartRequired ? "true" : "false";
  AppendKey(&out, "failed_phases");
  out += '[';
  for (size_t i = 0; i < state.FailedPhases.size(); ++i) {
    if (i) out += ',';
    AppendString(&out, state.FailedPhases[i]);
  }
  out += ']';
  AppendKey(&out, "errors");
  out += '[';
  for (size_t i = 0; i < state.Errors.size(); ++i) {
    const journal_internal::CallError& error = state.Errors[i];
    if (i) out += ',';
    out += "{\"step\":";
    AppendString(&out, error.Step);
    out += ",\"call\":";
    AppendString(&out, error.Call);
    out += ",\"code\":" + std::to_string(error.Code) + ",\"subject\":";
    AppendString(&out, error.Subject);
    out += '}';
  }
  out += ']';
  AppendKey(&out, "reference");
  AppendOptional(&out, state.Reference);
  AppendKey(&out, "version_before");
  AppendOptional(&out, state.VersionBefore);
  AppendKey(&out, "version_after");
  AppendOptional(&out, state.VersionAfter);
  if (state.RollbackMode) {
    AppendKey(&out, "failed_step");
    AppendOptional(&out, state.FailedStep);
    AppendKey(&out, "rolled_back");
    out += state.RolledBack ? "true" : "false";
    AppendKey(&out, "rollback_failed");
    out += state.RollbackFailed ? "true" : "false";
  }
  out += '}';
  return out;
}

bool IsRecordText(const std::string& head, const std::string& tail) {
  // {"schema":<digits>,"mode":" ... }<newline>
  constexpr std::string_view kOpening = "{\"schema\":", kMode = ",\"mode\":\"", kEnd = "}\n";
  const std::string_view text(head);
  if (!text.starts_with(kOpening)) return false;
  size_t digits = kOpening.size();
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  return digits > kOpening.size() && text.substr(digits).starts_with(kMode) && std::string_view(tail).ends_with(kEnd);
}
