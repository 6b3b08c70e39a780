#include "app/transport.h"
#include "common/failure.h"
#include "link/win_pipes.h"

namespace kartex {

std::unique_ptr<Pipes> open_platform_cable(const TransportOptions& options) {
  // The driver knows the cable by its interface class; vendor and product
  // numbers are a libusb matter.
  if (options.usb)
    fail("--usb picks a device through libusb, which the Windows build does not use: it finds "
         "the cable through the cable's driver");
  return open_win_cable(options.timeout_ms);
}

const char* no_cable_hint() {
  return "no cable found: check that it is plugged in and that its driver is installed";
}

}  // namespace kartex
