// The Service Control Manager calls of the seam, held to what Windows
// answers. Each test makes its own services under private names, deleting
// any leftover first and its own services after, so it runs on a real system
// as well as on the emulated machine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/conformance/conformance.h"

namespace {

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr char kDriver[] = "MevridConfTest1";
constexpr char kProcess[] = "MevridConfTest2";
constexpr char kDependent[] = "MevridConfTest3";
constexpr char kDriverImage[] = "System32\\drivers\\mevridconftest1.sys";
constexpr char kProcessImage[] = "C:\\mevrid-conformance\\no-such-service.exe";
constexpr DWORD kDependentsBufferSize = 1440;

SERVICE_STATUS SentinelStatus() {
  SERVICE_STATUS status;
  memset(&status, 0xEE, sizeof status);
  return status;
}

// The call fails and leaves this last error in place of the one set before.
template <typename Call>
void ExpectRefused(DWORD error, Call call) {
  SetLastError(kSentinel);
  EXPECT_FALSE(call());
  EXPECT_EQ(GetLastError(), error);
}

class ServiceConformance : public ::testing::Test {
 protected:
  void SetUp() override {
    manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager_, nullptr) << "OpenSCManagerA failed with " << GetLastError();
    for (const char* name : {kDependent, kProcess, kDriver}) Remove(name);
  }
  void TearDown() override {
    if (!manager_) return;
    for (const char* name : {kDependent, kProcess, kDriver}) Remove(name);
    CloseServiceHandle(manager_);
  }

  // A leftover of an earlier run goes, and is waited for: the manager may
  // finish a deletion a moment after the last handle is closed.
  void Remove(const char* name) {
    SC_HANDLE service = OpenServiceA(manager_, name, SERVICE_ALL_ACCESS);
    if (!service) return;
    SERVICE_STATUS status;
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    DeleteService(service);
    CloseServiceHandle(service);
    EXPECT_TRUE(GoneWithinASecond(name)) << name << " is still there after its deletion";
  }
  bool GoneWithinASecond(const char* name) {
    for (int poll = 0; poll < 10; ++poll) {
      SC_HANDLE service = OpenServiceA(manager_, name, SERVICE_QUERY_STATUS);
      if (!service) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
      CloseServiceHandle(service);
      Sleep(100);
    }
    return false;
  }
  SC_HANDLE CreateDriver() {
    return CreateServiceA(manager_, kDriver, kDriver, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                          SERVICE_ERROR_NORMAL, kDriverImage, "Extended Base", nullptr, nullptr, nullptr, nullptr);
  }
  SC_HANDLE CreateProcessService(const char* name, const char* dependencies = nullptr) {
    return CreateServiceA(manager_, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                          SERVICE_ERROR_NORMAL, kProcessImage, nullptr, nullptr, dependencies, nullptr, nullptr);
  }

  SC_HANDLE manager_ = nullptr;
};

TEST_F(ServiceConformance, OpeningAMissingServiceFails) {
  SetLastError(kSentinel);
  SC_HANDLE service = OpenServiceA(manager_, "MevridConfTestMissing", SERVICE_ALL_ACCESS);
  EXPECT_EQ(service, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  SetLastError(kSentinel);
  SERVICE_STATUS status = SentinelStatus();
  EXPECT_FALSE(QueryServiceStatus(nullptr, &status));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(status.dwCurrentState, SentinelStatus().dwCurrentState);
}

TEST_F(ServiceConformance, CreatingAnExistingNameAnswersServiceExists) {
  SetLastError(kSentinel);
  SC_HANDLE driver = CreateDriver();
  ASSERT_NE(driver, nullptr) << "CreateServiceA failed with " << GetLastError();
  SetLastError(kSentinel);
  SC_HANDLE again = CreateServiceA(manager_, kDriver, kDriver, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kDriverImage, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_EXISTS));
  if (again) CloseServiceHandle(again);
  EXPECT_TRUE(CloseServiceHandle(driver));
}

// A display name must be free among the other services' names and display
// names, even when it is the new service's own name.
TEST_F(ServiceConformance, ATakenDisplayNameAnswersDuplicateServiceName) {
  SC_HANDLE shows = CreateServiceA(manager_, kProcess, kDependent, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                   SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kProcessImage, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
  ASSERT_NE(shows, nullptr) << "CreateServiceA failed with " << GetLastError();
  auto create_showing = [this](const char* display) {
    SetLastError(kSentinel);
    SC_HANDLE created = CreateServiceA(manager_, kDependent, display, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                       SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, kProcessImage, nullptr, nullptr,
                                       nullptr, nullptr, nullptr);
    const DWORD error = created ? 0 : GetLastError();
    if (created) {
      DeleteService(created);
      CloseServiceHandle(created);
      EXPECT_TRUE(GoneWithinASecond(kDependent));
    }
    return error;
  };
  // Another service's display name.
  EXPECT_EQ(create_showing(kDependent), static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME));
  // Another service's name: Wine compares display names only.
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_DUPLICATE_SERVICE_NAME), 0u, create_showing(kProcess));
  EXPECT_TRUE(CloseServiceHandle(shows));
}

TEST_F(ServiceConformance, ANewServiceIsStoppedAndStoppingItAnswersNotActive) {
  SC_HANDLE driver = CreateDriver();
  SC_HANDLE process = CreateProcessService(kProcess);
  ASSERT_NE(driver, nullptr) << GetLastError();
  ASSERT_NE(process, nullptr) << GetLastError();
  for (auto [service, type] : {std::pair{driver, SERVICE_KERNEL_DRIVER}, {process, SERVICE_WIN32_OWN_PROCESS}}) {
    SCOPED_TRACE(type == SERVICE_KERNEL_DRIVER ? "kernel driver" : "own process");
    SERVICE_STATUS status = SentinelStatus();
    SetLastError(kSentinel);
    ASSERT_TRUE(QueryServiceStatus(service, &status)) << GetLastError();
    EXPECT_EQ(status.dwServiceType, static_cast<DWORD>(type));
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(status.dwControlsAccepted, 0u);

    // The stop of a stopped service is refused, and the status still reported.
    status = SentinelStatus();
    ExpectRefused(ERROR_SERVICE_NOT_ACTIVE, [&] { return ControlService(service, SERVICE_CONTROL_STOP, &status); });
    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  }
  EXPECT_TRUE(CloseServiceHandle(process));
  EXPECT_TRUE(CloseServiceHandle(driver));
}

// A definition read back to be made again: the size asked first, then the
// fixed part and its strings as the service was created.
TEST_F(ServiceConformance, QueryServiceConfigGivesTheDefinitionAsCreated) {
  SC_HANDLE driver = CreateDriver();
  ASSERT_NE(driver, nullptr) << GetLastError();
  SC_HANDLE process = CreateProcessService(kProcess);
  ASSERT_NE(process, nullptr) << GetLastError();
  SC_HANDLE dependent = CreateServiceA(manager_, kDependent, "Mevrid conformance dependent", SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_IGNORE,
                                       kProcessImage, nullptr, nullptr, "MevridConfTest2\0", nullptr, nullptr);
  ASSERT_NE(dependent, nullptr) << GetLastError();

  DWORD needed = kSentinel;
  ExpectRefused(ERROR_INSUFFICIENT_BUFFER, [&] { return QueryServiceConfigA(driver, nullptr, 0, &needed); });
  ASSERT_GT(needed, static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGA)));
  std::vector<BYTE> buffer(needed);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  ASSERT_TRUE(QueryServiceConfigA(driver, config, needed, &needed)) << GetLastError();
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  EXPECT_STREQ(config->lpBinaryPathName, kDriverImage);
  EXPECT_STREQ(config->lpLoadOrderGroup, "Extended Base");
  EXPECT_STREQ(config->lpDependencies, "");
  EXPECT_STREQ(config->lpDisplayName, kDriver);

  needed = 0;
  QueryServiceConfigA(dependent, nullptr, 0, &needed);
  buffer.assign(needed, 0);
  config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
  ASSERT_TRUE(QueryServiceConfigA(dependent, config, needed, &needed)) << GetLastError();
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  EXPECT_EQ(config->dwErrorControl, static_cast<DWORD>(SERVICE_ERROR_IGNORE));
  EXPECT_STREQ(config->lpLoadOrderGroup, "");
  // Wine keeps the dependencies but gives none back.
  std::string dependencies;
  for (const char* item = config->lpDependencies; item && *item; item += strlen(item) + 1)
    dependencies += std::string(item) + ";";
  WINE_DIVERGENCE_EQ(std::string(kProcess) + ";", std::string(), dependencies);
  EXPECT_STREQ(config->lpDisplayName, "Mevrid conformance dependent");

  // The right to read the definition is its own.
  SC_HANDLE status_only = OpenServiceA(manager_, kDriver, SERVICE_QUERY_STATUS);
  ASSERT_NE(status_only, nullptr) << GetLastError();
  ExpectRefused(ERROR_ACCESS_DENIED, [&] { return QueryServiceConfigA(status_only, config, needed, &needed); });
  EXPECT_TRUE(CloseServiceHandle(status_only));
  for (SC_HANDLE service : {dependent, process, driver}) EXPECT_TRUE(CloseServiceHandle(service));
}

TEST_F(ServiceConformance, AHandleWithoutStopAccessCannotStop) {
  SC_HANDLE process = CreateProcessService(kProcess);
  ASSERT_NE(process, nullptr) << GetLastError();
  SC_HANDLE query_only = OpenServiceA(manager_, kProcess, SERVICE_QUERY_STATUS);
  ASSERT_NE(query_only, nullptr) << GetLastError();
  SERVICE_STATUS status = SentinelStatus();
  ExpectRefused(ERROR_ACCESS_DENIED, [&] { return ControlService(query_only, SERVICE_CONTROL_STOP, &status); });
  ExpectRefused(ERROR_ACCESS_DENIED, [&] { return DeleteService(query_only); });
  EXPECT_TRUE(CloseServiceHandle(query_only));
  EXPECT_TRUE(CloseServiceHandle(process));
}

TEST_F(ServiceConformance, ADeletedServiceStaysMarkedWhileAHandleIsOpen) {
  SC_HANDLE first = CreateProcessService(kProcess);
  ASSERT_NE(first, nullptr) << GetLastError();
  SC_HANDLE second = OpenServiceA(manager_, kProcess, SERVICE_ALL_ACCESS);
  ASSERT_NE(second, nullptr) << GetLastError();
  SetLastError(kSentinel);
  EXPECT_TRUE(DeleteService(first)) << GetLastError();
  EXPECT_TRUE(CloseServiceHandle(first));

  ExpectRefused(ERROR_SERVICE_MARKED_FOR_DELETE, [&] { return DeleteService(second); });
  SetLastError(kSentinel);
  SC_HANDLE recreated = CreateProcessService(kProcess);
  EXPECT_EQ(recreated, nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE));
  if (recreated) CloseServiceHandle(recreated);

  // The last handle closed, the service goes.
  EXPECT_TRUE(CloseServiceHandle(second));
  EXPECT_TRUE(GoneWithinASecond(kProcess));
}

TEST_F(ServiceConformance, DependentsFillTheBufferAndNothingBeyondIt) {
  SC_HANDLE process = CreateProcessService(kProcess);
  ASSERT_NE(process, nullptr) << GetLastError();
  SC_HANDLE dependent = CreateProcessService(kDependent, "MevridConfTest2\0");
  ASSERT_NE(dependent, nullptr) << GetLastError();

  constexpr size_t kCanary = 64;
  alignas(ENUM_SERVICE_STATUSA) BYTE buffer[kDependentsBufferSize + kCanary];
  auto* entries = reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer);
  auto canary_intact = [&] {
    for (size_t i = kDependentsBufferSize; i < sizeof buffer; ++i)
      if (buffer[i] != 0xCD) return false;
    return true;
  };

  // The dependent is stopped: no active dependents.
  memset(buffer, 0xCD, sizeof buffer);
  DWORD needed = kSentinel, count = kSentinel;
  SetLastError(kSentinel);
  ASSERT_TRUE(EnumDependentServicesA(process, SERVICE_ACTIVE, entries, kDependentsBufferSize, &needed, &count))
      << GetLastError();
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(canary_intact());

  // Asked for stopped ones, the dependent is listed, its names in the buffer.
  memset(buffer, 0xCD, sizeof buffer);
  needed = kSentinel;
  count = kSentinel;
  ASSERT_TRUE(EnumDependentServicesA(process, SERVICE_INACTIVE, entries, kDependentsBufferSize, &needed, &count))
      << GetLastError();
  // Wine 8 lists no dependents at all.
  WINE_DIVERGENCE_EQ(1u, 0u, count);
  if (count == 1) {
    EXPECT_STREQ(entries[0].lpServiceName, kDependent);
    EXPECT_STREQ(entries[0].lpDisplayName, kDependent);
    EXPECT_EQ(entries[0].ServiceStatus.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    for (const char* text : {entries[0].lpServiceName, entries[0].lpDisplayName}) {
      EXPECT_GE(reinterpret_cast<const BYTE*>(text), buffer + sizeof(ENUM_SERVICE_STATUSA));
      EXPECT_LT(reinterpret_cast<const BYTE*>(text) + strlen(text), buffer + kDependentsBufferSize);
    }
  }
  EXPECT_TRUE(canary_intact());
  EXPECT_TRUE(CloseServiceHandle(dependent));
  EXPECT_TRUE(CloseServiceHandle(process));
}

TEST_F(ServiceConformance, CreateServiceWritesTheServiceKey) {
  SC_HANDLE driver = CreateDriver();
  ASSERT_NE(driver, nullptr) << GetLastError();
  HKEY key = nullptr;
  std::string path = std::string("SYSTEM\\CurrentControlSet\\Services\\") + kDriver;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);

  auto dword = [&](const char* name) {
    DWORD type = kSentinel, value = kSentinel, size = sizeof value;
    LONG status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    EXPECT_EQ(status, ERROR_SUCCESS) << name;
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << name;
    EXPECT_EQ(size, sizeof value) << name;
    return value;
  };
  // Strings are stored with their terminator.
  auto text = [&](const char* name, DWORD* type) {
    BYTE data[300];
    memset(data, 0xCD, sizeof data);
    DWORD size = sizeof data;
    *type = kSentinel;
    LONG status = RegQueryValueExA(key, name, nullptr, type, data, &size);
    EXPECT_EQ(status, ERROR_SUCCESS) << name;
    std::string value(reinterpret_cast<char*>(data), status == ERROR_SUCCESS ? size : 0);
    EXPECT_EQ(size, strlen(value.c_str()) + 1) << name;
    return std::string(value.c_str());
  };
  EXPECT_EQ(dword("Type"), static_cast<DWORD>(SERVICE_KERNEL_DRIVER));
  EXPECT_EQ(dword("Start"), static_cast<DWORD>(SERVICE_DEMAND_START));
  EXPECT_EQ(dword("ErrorControl"), static_cast<DWORD>(SERVICE_ERROR_NORMAL));
  DWORD type = 0;
  EXPECT_EQ(text("ImagePath", &type), kDriverImage);
  // Wine 8 stores the image path as a plain string.
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(REG_EXPAND_SZ), static_cast<DWORD>(REG_SZ), type);
  EXPECT_EQ(text("Group", &type), "Extended Base");
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(text("DisplayName", &type), kDriver);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_TRUE(CloseServiceHandle(driver));
}

TEST_F(ServiceConformance, ADriverWithoutItsImageDoesNotStart) {
  SC_HANDLE driver = CreateDriver();
  ASSERT_NE(driver, nullptr) << GetLastError();
  SetLastError(kSentinel);
  EXPECT_FALSE(StartServiceA(driver, 0, nullptr));
  // Wine 8 answers ERROR_DLL_INIT_FAILED from its driver host.
  WINE_DIVERGENCE_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), 1114u, GetLastError());
  SERVICE_STATUS status = SentinelStatus();
  ASSERT_TRUE(QueryServiceStatus(driver, &status)) << GetLastError();
  EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_TRUE(CloseServiceHandle(driver));
}

}  // namespace
