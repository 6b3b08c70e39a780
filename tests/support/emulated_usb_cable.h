#pragma once
// The simulated cable as a USB device that libusb finds and drives through
// its own code: umockdev gives libusb a device node and sysfs entry with the
// cable's descriptors, and answers usbfs's requests (claim, clear-halt,
// bulk URBs) by moving the bytes to and from the simulator's pipes. The
// process must run with umockdev's preload library (umockdev-wrapper).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "link/pipes.h"
#include "sim/sim_pipes.h"

namespace kartex::test {

class EmulatedUsbCable {
 public:
  explicit EmulatedUsbCable(const SimOptions& sim);
  ~EmulatedUsbCable();
  EmulatedUsbCable(const EmulatedUsbCable&) = delete;
  EmulatedUsbCable& operator=(const EmulatedUsbCable&) = delete;

  // After this many bytes have come in on the data-in pipe the device is
  // gone: every later request fails as usbfs does for a pulled device.
  void pull_after(std::size_t data_in_bytes);

  struct Counts {
    int claims = 0;                  // interface 0 claimed
    std::vector<int> clear_halts;    // endpoint addresses, in order
    std::size_t bulk_out = 0;        // bytes the host sent
    std::size_t bulk_in = 0;         // bytes the host received
    std::size_t urbs = 0;            // bulk URBs submitted
  };
  Counts counts() const;

  // Whatever went wrong inside the emulation (an URB it could not serve).
  std::string problems() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace kartex::test
