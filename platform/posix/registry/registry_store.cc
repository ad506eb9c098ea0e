// Registry rows: keys (id, parent, name, upper-cased name, class) and values
// (key, name, upper-cased name, type, bytes, write order).
#include "platform/posix/registry/registry_store.h"

#include "platform/posix/admin.h"
#include "platform/posix/machine/database.h"
#include "platform/posix/machine/split.h"

namespace emu::store {

std::vector<std::string> SplitKeyPath(const std::string& path) { return SplitNonEmpty(path, '\\'); }

static int64_t FindChild(int64_t parent, const std::string& name) {
  Statement st(Db(), "SELECT id FROM reg_keys WHERE parent=?1 AND uname=?2");
  st.Bind(1, parent).Bind(2, Upper(name));
  return st.Step() == SQLITE_ROW ? st.Int(0) : kNoKey;
}

// A key's id is never given to another key, not even after the key is
// deleted: an open handle holds the id, and a key created later under the
// same name must not answer through it (Windows says ERROR_KEY_DELETED
// there). The highest id ever handed out is kept beside the rows, since
// SQLite would reuse the largest rowid once that row is gone. Called inside
// CreateKey's transaction.
static int64_t NextKeyId() {
  Statement next(Db(),
                 "SELECT MAX((SELECT COALESCE(MAX(id), 0) FROM reg_keys),"
                 " COALESCE((SELECT CAST(value AS INTEGER) FROM settings WHERE name='registry-last-key-id'), 0)) + 1");
  if (next.Step() != SQLITE_ROW) return kNoKey;
  int64_t id = next.Int(0);
  Statement keep(Db(),
                 "INSERT INTO settings(name, value) VALUES('registry-last-key-id', ?1)"
                 " ON CONFLICT(name) DO UPDATE SET value=?1");
  keep.Bind(1, std::to_string(id));
  return keep.Run() ? id : kNoKey;
}

int64_t FindKey(int64_t parent, const std::string& path) {
  if (!KeyExists(parent)) return kNoKey;
  int64_t id = parent;
  for (const std::string& part : SplitKeyPath(path)) {
    id = FindChild(id, part);
    if (id == kNoKey) return kNoKey;
  }
  return id;
}

int64_t CreateKey(int64_t parent, const std::string& path, const std::string& key_class, bool* created) {
  if (created) *created = false;
  if (!KeyExists(parent)) return kNoKey;
  Transaction tx;
  if (!tx.ok()) return kNoKey;
  int64_t id = parent;
  for (const std::string& part : SplitKeyPath(path)) {
    int64_t child = FindChild(id, part);
    if (child == kNoKey) {
      child = NextKeyId();
      if (child == kNoKey) return kNoKey;
      Statement add(Db(), "INSERT INTO reg_keys(id, parent, name, uname, class) VALUES(?1, ?2, ?3, ?4, ?5)");
      add.Bind(1, child).Bind(2, id).Bind(3, part).Bind(4, Upper(part)).Bind(5, key_class);
      if (!add.Run()) return kNoKey;
      if (created) *created = true;
    } else if (created) {
      *created = false;
    }
    id = child;
  }
  return tx.Commit() ? id : kNoKey;
}

bool KeyExists(int64_t id) {
  if (id == kNoKey) return false;
  Statement st(Db(), "SELECT 1 FROM reg_keys WHERE id=?1");
  st.Bind(1, id);
  return st.Step() == SQLITE_ROW;
}

std::string KeyName(int64_t id) {
  Statement st(Db(), "SELECT name FROM reg_keys WHERE id=?1");
  st.Bind(1, id);
  return st.Step() == SQLITE_ROW ? st.Text(0) : std::string();
}

std::string KeyClass(int64_t id) {
  Statement st(Db(), "SELECT class FROM reg_keys WHERE id=?1");
  st.Bind(1, id);
  return st.Step() == SQLITE_ROW ? st.Text(0) : std::string();
}

std::string KeyPath(int64_t id) {
  std::string path;
  while (id != kRootKeyId && id != kNoKey) {
    Statement st(Db(), "SELECT parent, name FROM reg_keys WHERE id=?1");
    st.Bind(1, id);
    if (st.Step() != SQLITE_ROW) return std::string();
    path = path.empty() ? st.Text(1) : st.Text(1) + "\\" + path;
    id = st.Int(0);
  }
  return path;
}

std::vector<std::pair<int64_t, std::string>> Subkeys(int64_t id) {
  std::vector<std::pair<int64_t, std::string>> keys;
  Statement st(Db(), "SELECT id, name FROM reg_keys WHERE parent=?1 ORDER BY uname");
  st.Bind(1, id);
  while (st.Step() == SQLITE_ROW) keys.emplace_back(st.Int(0), st.Text(1));
  return keys;
}

int64_t SubkeyAt(int64_t id, int64_t index, std::string* name) {
  // The (parent, uname) index makes this one index seek and a short scan, so a
  // full enumeration stays close to linear for the key counts the tool meets.
  Statement st(Db(), "SELECT id, name FROM reg_keys WHERE parent=?1 ORDER BY uname LIMIT 1 OFFSET ?2");
  st.Bind(1, id).Bind(2, index);
  if (st.Step() != SQLITE_ROW) return kNoKey;
  if (name) *name = st.Text(1);
  return st.Int(0);
}

bool HasSubkeys(int64_t id) {
  Statement st(Db(), "SELECT 1 FROM reg_keys WHERE parent=?1 LIMIT 1");
  st.Bind(1, id);
  return st.Step() == SQLITE_ROW;
}

bool DeleteKey(int64_t id) {
  if (id == kRootKeyId || !KeyExists(id) || HasSubkeys(id)) return false;
  Transaction tx;
  Statement values(Db(), "DELETE FROM reg_values WHERE key_id=?1");
  values.Bind(1, id);
  Statement key(Db(), "DELETE FROM reg_keys WHERE id=?1");
  key.Bind(1, id);
  return tx.ok() && values.Run() && key.Run() && tx.Commit();
}

bool DeleteTree(int64_t id) {
  Transaction tx;
  if (!tx.ok()) return false;
  for (const auto& child : Subkeys(id))
    if (!DeleteTree(child.first)) return false;
  if (id == kRootKeyId) return tx.Commit();
  return DeleteKey(id) && tx.Commit();
}

bool GetValue(int64_t key, const std::string& name, Value* value) {
  Statement st(Db(), "SELECT name, type, data FROM reg_values WHERE key_id=?1 AND uname=?2");
  st.Bind(1, key).Bind(2, Upper(name));
  if (st.Step() != SQLITE_ROW) return false;
  if (value) *value = Value{st.Text(0), static_cast<uint32_t>(st.Int(1)), st.Blob(2)};
  return true;
}

bool SetValue(int64_t key, const std::string& name, uint32_t type, const std::string& data) {
  // A rewrite keeps the value's place in the listing and its first spelling.
  Statement st(Db(),
               "INSERT INTO reg_values(key_id, name, uname, type, data, seq) VALUES(?1, ?2, ?3, ?4, ?5,"
               " (SELECT COALESCE(MAX(seq), 0) + 1 FROM reg_values WHERE key_id=?1))"
               " ON CONFLICT(key_id, uname) DO UPDATE SET type=?4, data=?5");
  st.Bind(1, key).Bind(2, name).Bind(3, Upper(name)).Bind(4, static_cast<int64_t>(type)).BindBlob(5, data.data(),
                                                                                                     data.size());
  return st.Run();
}

bool DeleteValue(int64_t key, const std::string& name) {
  Statement st(Db(), "DELETE FROM reg_values WHERE key_id=?1 AND uname=?2");
  st.Bind(1, key).Bind(2, Upper(name));
  return st.Run() && sqlite3_changes(Db()) > 0;
}

std::vector<Value> Values(int64_t key) {
  std::vector<Value> values;
  Statement st(Db(), "SELECT name, type, data FROM reg_values WHERE key_id=?1 ORDER BY seq");
  st.Bind(1, key);
  while (st.Step() == SQLITE_ROW) values.push_back(Value{st.Text(0), static_cast<uint32_t>(st.Int(1)), st.Blob(2)});
  return values;
}

bool ValueAt(int64_t key, int64_t index, Value* value) {
  Statement st(Db(), "SELECT name, type, data FROM reg_values WHERE key_id=?1 ORDER BY seq LIMIT 1 OFFSET ?2");
  st.Bind(1, key).Bind(2, index);
  if (st.Step() != SQLITE_ROW) return false;
  if (value) *value = Value{st.Text(0), static_cast<uint32_t>(st.Int(1)), st.Blob(2)};
  return true;
}

std::string GetString(int64_t key, const std::string& name, const std::string& fallback) {
  Value value;
  if (!GetValue(key, name, &value)) return fallback;
  std::string text = value.data;
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

bool SetString(int64_t key, const std::string& name, const std::string& text, uint32_t type) {
  return SetValue(key, name, type, text);
}

bool SetDword(int64_t key, const std::string& name, uint32_t value) {
  std::string data(4, '\0');
  for (int i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return SetValue(key, name, 4, data);
}

bool GetDword(int64_t key, const std::string& name, uint32_t* value) {
  Value v;
  if (!GetValue(key, name, &v) || v.data.size() != 4) return false;
  uint32_t result = 0;
  for (int i = 0; i < 4; ++i) result |= static_cast<uint32_t>(static_cast<unsigned char>(v.data[i])) << (8 * i);
  if (value) *value = result;
  return true;
}

}  // namespace emu::store
