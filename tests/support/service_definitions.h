// Services as the tests define them on an emulated machine: any service by
// name and state, the component's driver service, and the node agents.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/admin.h"

namespace testsupport {

// The node agents a managed node runs, in the order the sequences name them.
inline const char* const kNodeAgents[] = {"Gandrel2Service", "Tobrael", "Kelm Baseboard Agent",
                                          "Kelm Local Response Agent"};

// A service of its own process in the given state, its display name empty
// unless given.
inline emu::admin::ServiceSpec Service(const std::string& name, uint32_t state, const std::string& display = "") {
  emu::admin::ServiceSpec spec;
  spec.name = name;
  spec.display = display;
  spec.state = state;
  return spec;
}

// The same service depending on others (services by name, "+name" for a
// load order group).
inline emu::admin::ServiceSpec DependsOn(emu::admin::ServiceSpec spec, std::vector<std::string> depends) {
  spec.depends = std::move(depends);
  return spec;
}

// The driver service "vtrin" as an installation leaves it: a kernel driver
// started automatically from the Windows drivers directory.
inline emu::admin::ServiceSpec DriverService(uint32_t state) {
  emu::admin::ServiceSpec spec = Service("vtrin", state);
  spec.driver = true;
  spec.image = "System32\\drivers\\vtrin.sys";
  spec.start_type = 2;  // SERVICE_AUTO_START
  return spec;
}

}  // namespace testsupport
