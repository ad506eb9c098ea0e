// The machine's settings, one row each in its database.
#include "platform/posix/admin.h"

#include "platform/posix/machine/database.h"
#include "platform/posix/machine/fault_check.h"

namespace emu {

std::string GetSetting(const std::string& name, const std::string& fallback) {
  Statement st(Db(), "SELECT value FROM settings WHERE name=?1");
  st.Bind(1, name);
  return st.Step() == SQLITE_ROW ? st.Text(0) : fallback;
}

bool SetSetting(const std::string& name, const std::string& value) {
  Statement st(Db(), "INSERT INTO settings(name, value) VALUES(?1, ?2) ON CONFLICT(name) DO UPDATE SET value=?2");
  st.Bind(1, name).Bind(2, value);
  bool ok = st.Run();
  if (name == "count-calls") ReloadFaultRules();
  return ok;
}

}  // namespace emu
