// The names of a run's steps, as the log shows them and the record files its
// failed calls under them. One constant per step, so the run and its readers
// never spell a step two ways.
#pragma once

namespace journal_step {

// The agent modes.
inline constexpr char kStopAgent[] = "stop-agent";
inline constexpr char kStartAgent[] = "start-agent";
// The older-node preparation and its end.
inline constexpr char kStopLegacyServices[] = "stop-legacy-services";
inline constexpr char kDeleteOldCopies[] = "delete-old-copies";
inline constexpr char kStartLegacyServices[] = "start-legacy-services";
// The install.
inline constexpr char kCheck[] = "check";
inline constexpr char kNotifyEnd[] = "notify-end";
inline constexpr char kStopDriver[] = "stop-driver";
inline constexpr char kCopy[] = "copy";
inline constexpr char kRestartDriver[] = "restart-driver";
inline constexpr char kRecordVersion[] = "record-version";
inline constexpr char kRemoveDriver[] = "remove-driver";
inline constexpr char kCreateDriver[] = "create-driver";
inline constexpr char kStartDriver[] = "start-driver";
inline constexpr char kNotifyBegin[] = "notify-begin";
inline constexpr char kRegister[] = "register";
// A failed install putting the component back as it was.
inline constexpr char kRollBack[] = "roll-back";
// The removal (kStopDriver and kRemoveDriver as well).
inline constexpr char kNotifyReference[] = "notify-reference";
inline constexpr char kUnregister[] = "unregister";
inline constexpr char kRemoveComponent[] = "remove-component";
inline constexpr char kDeleteFiles[] = "delete-files";
inline constexpr char kRemoveKeys[] = "remove-keys";

}  // namespace journal_step
