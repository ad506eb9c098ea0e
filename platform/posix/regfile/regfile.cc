// regedit's import and export for the emulated machine (emu::admin).
#include "platform/posix/regfile/regfile.h"

#include "platform/posix/admin.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/registry/registry_store.h"

namespace emu::admin {
namespace {

constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";

bool Apply(const std::vector<regfile::Edit>& edits, std::string* error) {
  Transaction tx;
  if (!tx.ok()) {
    *error = std::string("cannot begin a transaction: ") + sqlite3_errmsg(Db());
    return false;
  }
  int64_t key = store::kNoKey;
  for (const regfile::Edit& edit : edits) {
    bool ok = true;
    switch (edit.kind) {
      case regfile::Edit::kKey:
        key = store::CreateKey(store::kRootKeyId, edit.key, "");
        ok = key != store::kNoKey;
        break;
      case regfile::Edit::kDeleteKey: {
        // Deleting what is not there is no error, as with regedit.
        int64_t gone = store::FindKey(store::kRootKeyId, edit.key);
        ok = gone == store::kNoKey || store::DeleteTree(gone);
        key = store::kNoKey;
        break;
      }
      case regfile::Edit::kSetValue:
        ok = store::SetValue(key, edit.name, edit.type, edit.data);
        break;
      case regfile::Edit::kDeleteValue:
        store::DeleteValue(key, edit.name);  // a missing value is no error
        break;
    }
    if (!ok) {
      *error = "line " + std::to_string(edit.line) + ": cannot write the registry: " + sqlite3_errmsg(Db());
      return false;
    }
  }
  if (!tx.Commit()) {
    *error = std::string("cannot commit the import: ") + sqlite3_errmsg(Db());
    return false;
  }
  return true;
}

bool ExportKey(int64_t id, const std::string& path, std::string* text, std::string* error) {
  *text += "[" + std::string(kRootName) + (path.empty() ? "" : "\\" + path) + "]" + regfile::kLineEnd;
  for (const store::Value& value : store::Values(id)) {
    if (value.name.find_first_of("\r\n") != std::string::npos) {
      *error = "the value name '" + value.name + "' in " + path + " holds a line break, which a .reg file cannot";
      return false;
    }
    *text += regfile::FormatValue(value.name, value.type, value.data) + regfile::kLineEnd;
  }
  *text += regfile::kLineEnd;
  for (const auto& [child, name] : store::Subkeys(id))
    if (!ExportKey(child, path.empty() ? name : path + "\\" + name, text, error)) return false;
  return true;
}

// "HKEY_LOCAL_MACHINE\A", "HKLM\A" or "A" as "A".
std::string BelowRoot(const std::string& key_path) {
  for (const char* root_name : {kRootName, "HKLM"}) {
    std::string root = root_name;
    if (EqualsNoCase(key_path, root)) return "";
    if (key_path.size() > root.size() && key_path[root.size()] == '\\' &&
        EqualsNoCase(key_path.substr(0, root.size()), root))
      return key_path.substr(root.size() + 1);
  }
  return key_path;
}

}  // namespace

bool ImportRegText(const std::string& text, std::string* error) {
  std::string why;
  std::vector<regfile::Edit> edits;
  if (!regfile::Parse(text, &edits, &why) || !Apply(edits, &why)) {
    if (error) *error = why;
    return false;
  }
  return true;
}

bool ExportRegText(const std::string& key_path, std::string* text, std::string* error) {
  std::string why;
  std::string out = std::string("Windows Registry Editor Version 5.00") + regfile::kLineEnd + regfile::kLineEnd;
  std::string path = BelowRoot(key_path);
  // One transaction, so that the text is the tree at one moment even while
  // other processes write.
  Transaction tx;
  int64_t id = tx.ok() ? store::FindKey(store::kRootKeyId, path) : store::kNoKey;
  bool ok = id != store::kNoKey;
  if (!ok) {
    why = tx.ok() ? "no key " + std::string(kRootName) + (path.empty() ? "" : "\\" + path)
                  : std::string("cannot read the registry: ") + sqlite3_errmsg(Db());
  } else {
    ok = ExportKey(id, store::KeyPath(id), &out, &why);
  }
  if (!ok) {
    if (error) *error = why;
    return false;
  }
  if (text) *text = out;
  return true;
}

}  // namespace emu::admin
