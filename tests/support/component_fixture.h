// Shared by the component installer's unit tests: a fresh emulated machine
// with a virtual clock, a private release directory as the current directory
// (the procedures take their release files from it), and small helpers to
// seed and read the machine through the same Win32 calls the tool uses.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/handles.h"
#include "platform/posix/admin.h"
#include "tests/support/service_definitions.h"
#include "tests/support/test_machine.h"
#include "tests/support/text_lines.h"

namespace componenttest {

constexpr const char* kInstalledLibrary = "C:\\WINDOWS\\system32\\qelmot32.dll";
constexpr const char* kInstalledDriver = "C:\\WINDOWS\\system32\\drivers\\vtrin.sys";
constexpr const char* kInstalledTool = "C:\\WINDOWS\\mevrid.exe";
constexpr const char* kSessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";

class ComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    saved_cwd_ = cwd;
    work_ = testsupport::MakeTempDir("mevrid-component");
    ASSERT_FALSE(work_.empty());
    release_ = testsupport::MakeReleaseCopy(work_);
    ASSERT_EQ(chdir(release_.c_str()), 0);
    record_file_ = work_ + "/record.txt";
    setenv("MEVRID_RECORD_FILE", record_file_.c_str(), 1);
  }

  void TearDown() override {
    // Every path of every procedure releases what it opened.
    EXPECT_EQ(emu::admin::OpenRegistryHandleCount(), 0) << "registry keys left open";
    EXPECT_EQ(emu::admin::OpenKernelHandleCount(), 0u) << "file, process or thread handles left open";
    EXPECT_EQ(emu::admin::OpenServiceHandleCount(), 0) << "service handles left open";
    KillStartedPrograms();
    unsetenv("MEVRID_RECORD_FILE");
    unsetenv("SystemRoot");
    if (chdir(saved_cwd_.c_str()) != 0) ADD_FAILURE() << "cannot return to " << saved_cwd_;
    testsupport::RemoveTree(work_);
  }

  std::string Host(const std::string& windows_path) const { return machine_.HostPath(windows_path); }
  std::string Release(const std::string& relative) const { return release_ + "/" + relative; }

  // Runs body with standard output captured and returns what it printed.
  static std::string Captured(const std::function<void()>& body) {
    testing::internal::CaptureStdout();
    body();
    return testing::internal::GetCapturedStdout();
  }

  // A string value written with the exact bytes given (no terminator added).
  static void SetRegistryBytes(const std::string& key_path, const char* value, DWORD type, const std::string& bytes) {
    char key_class[] = "";
    ScopedKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, key_path.c_str(), 0, key_class, REG_OPTION_NON_VOLATILE,
                              KEY_WRITE, nullptr, key.Receive(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.Get(), value, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size())),
              ERROR_SUCCESS);
  }

  // The stored bytes and type of a value; false when the key or value is absent.
  static bool GetRegistryBytes(const std::string& key_path, const char* value, std::string* bytes,
                               DWORD* type = nullptr) {
    emu::admin::RegValue stored;
    if (!emu::admin::ReadValue(key_path, value, &stored)) return false;
    *bytes = stored.data;
    if (type) *type = stored.type;
    return true;
  }

  static bool KeyExists(const std::string& key_path) {
    return emu::admin::KeyExists(key_path);
  }

  // The class text a key was created with.
  static std::string KeyClass(const std::string& key_path) {
    emu::admin::RegKey key;
    return emu::admin::ReadKey(key_path, &key) ? key.key_class : "<no key>";
  }

  // The pending deletions, as pairs of source and target.
  static std::vector<std::pair<std::string, std::string>> PendingRenames() {
    std::string bytes;
    if (!GetRegistryBytes(kSessionManagerKey, "PendingFileRenameOperations", &bytes)) return {};
    return testsupport::PendingRenamePairs(bytes);
  }

  // Writes a file on the emulated drive with a given last-write time
  // (seconds since the epoch).
  static void PutFile(const std::string& host_path, const std::string& contents, time_t write_time = 0) {
    ASSERT_TRUE(testsupport::WriteFile(host_path, contents, true)) << host_path;
    if (write_time != 0) SetWriteTime(host_path, write_time);
  }

  static void SetWriteTime(const std::string& host_path, time_t write_time) {
    struct timespec times[2] = {{write_time, 0}, {write_time, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, host_path.c_str(), times, 0), 0) << host_path;
  }

  static time_t WriteTime(const std::string& host_path) {
    struct stat st {};
    if (stat(host_path.c_str(), &st) != 0) return 0;
    return st.st_mtime;
  }

  static void MakeReadOnly(const std::string& host_path) { ASSERT_EQ(chmod(host_path.c_str(), 0555), 0); }
  static bool IsReadOnly(const std::string& host_path) {
    struct stat st {};
    return stat(host_path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
  }

  // The three installed files, all with one last-write time.
  void PutInstalledFiles(time_t write_time) {
    PutFile(Host(kInstalledLibrary), "old library", write_time);
    PutFile(Host(kInstalledDriver), "old driver", write_time);
    PutFile(Host(kInstalledTool), "old tool", write_time);
  }
  // The release files' last-write time.
  void SetReleaseTimes(time_t write_time) {
    SetWriteTime(Release("nt_node/qelmot32.dll"), write_time);
    SetWriteTime(Release("nt_node/vtrin.sys"), write_time);
    SetWriteTime(Release("mevrid.exe"), write_time);
  }

  // A test helper program copied onto the emulated drive, for example
  // ("record_args", "C:\\Products\\Alpha\\pre.exe").
  void PutHelper(const std::string& helper, const std::string& windows_path) {
    std::string from = testsupport::HelpersDir() + "/" + helper;
    std::string to = Host(windows_path);
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(to).parent_path(), ec);
    ASSERT_TRUE(std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec))
        << from << ": " << ec.message();
  }

  // The lines the record_args pre-processors appended, in order.
  std::vector<std::string> RecordedLines() const {
    return testsupport::SplitLines(testsupport::ReadFile(record_file_));
  }

  static void DefineDriver(const std::string& name, const std::string& image, uint32_t state) {
    emu::admin::ServiceSpec spec = testsupport::Service(name, state, name);
    spec.driver = true;
    spec.image = image;
    std::string error;
    ASSERT_TRUE(emu::admin::DefineService(spec, &error)) << error;
  }

  static bool ServiceExists(const std::string& name, emu::admin::ServiceInfo* info = nullptr) {
    emu::admin::ServiceInfo local;
    std::string error;
    return emu::admin::QueryService(name, info ? info : &local, &error);
  }

  static void Fault(const std::string& operation, const std::string& match, DWORD error, int64_t nth = 1,
                    bool always = false) {
    ASSERT_TRUE(emu::AddFaultRule(operation, match, error, nth, always));
  }

  // Programs of this machine still running (a pre-processor that never
  // ended): found by their image below the machine's directory and ended by
  // their process id, so nothing of this test outlives it.
  std::vector<pid_t> StartedPrograms() const { return testsupport::ProgramsRunningFrom(machine_.dir()); }
  void KillStartedPrograms() const {
    for (pid_t pid : StartedPrograms()) kill(pid, SIGKILL);
  }

  testsupport::TestMachine machine_;
  std::string saved_cwd_;
  std::string work_;
  std::string release_;
  std::string record_file_;
};

}  // namespace componenttest
