#include "app/transport.h"
#include "link/usb_pipes.h"

namespace kartex {

std::unique_ptr<Pipes> open_platform_cable(const TransportOptions& options) {
  return open_usb_cable(options.usb, options.timeout_ms);
}

const char* no_cable_hint() {
  return "no cable found: check that it is plugged in; --sim runs the command on the simulator, "
         "sudo scripts/install-udev-rule.sh VID:PID mends a permission problem, and --usb VID:PID "
         "picks a cable with other USB IDs";
}

}  // namespace kartex
