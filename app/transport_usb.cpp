#include "app/transport.h"
#include "link/usb_pipes.h"

namespace kartex {

std::unique_ptr<Pipes> open_platform_cable(const TransportOptions& options) {
  return open_usb_cable(options.usb, options.timeout_ms);
}

}  // namespace kartex
