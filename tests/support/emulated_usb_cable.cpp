#include "tests/support/emulated_usb_cable.h"

#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <cerrno>
#include <cstring>
#include <span>

namespace kartex::test {

namespace {

// The cable as the host sees it: one configuration, interface 0 with three
// bulk endpoints in the order of its pipes (command OUT, data-in IN,
// data-out OUT), 512-byte packets. Device and product numbers are made up:
// the tool takes the first device with this layout.
constexpr const char* DESCRIPTORS =
    "12010002ff000040"      // device: USB 2.0, vendor class, EP0 64 bytes
    "3412cdab0001000000"    // vendor 0x1234, product 0xabcd, release 1.00, no strings
    "01"                    // one configuration
    "09022700010100c001"    // configuration: 39 bytes, 1 interface, self powered
    "0904000003ff000000"    // interface 0: 3 endpoints, vendor class
    "07050102000200"        // endpoint 0x01 bulk OUT, 512 bytes
    "07058202000200"        // endpoint 0x82 bulk IN, 512 bytes
    "07050302000200";       // endpoint 0x03 bulk OUT, 512 bytes

constexpr const char* DEVICE_NODE = "/dev/bus/usb/001/002";

int pipe_of_endpoint(unsigned endpoint) {
  switch (endpoint) {
    case 0x01: return static_cast<int>(Pipe::Command);
    case 0x82: return static_cast<int>(Pipe::DataIn);
    case 0x03: return static_cast<int>(Pipe::DataOut);
    default: return -1;
  }
}

}  // namespace

struct EmulatedUsbCable::Impl {
  UMockdevTestbed* testbed = nullptr;
  UMockdevIoctlBase* handler = nullptr;
  std::ostringstream sim_report;
  std::unique_ptr<Pipes> sim;

  mutable std::mutex lock;
  Counts counts;
  std::string problems;
  std::size_t pull_after = SIZE_MAX;
  std::vector<UMockdevIoctlData*> finished;  // URBs served, waiting to be reaped

  void problem(const std::string& what) {
    problems += what;
    problems += '\n';
  }

  bool pulled() const { return counts.bulk_in >= pull_after; }

  // A pulled cable fails the call as the kernel does for a device gone.
  bool refused_as_pulled(UMockdevIoctlClient* client) {
    if (!pulled()) return false;
    umockdev_ioctl_client_complete(client, -1, ENODEV);
    return true;
  }

  // The number an ioctl's argument of `size` bytes starts with: an
  // interface or an endpoint.
  static unsigned leading_number(UMockdevIoctlData* arg, std::size_t size) {
    UMockdevIoctlData* data = umockdev_ioctl_data_resolve(arg, 0, size, nullptr);
    unsigned n = 0;
    std::memcpy(&n, data->data, sizeof n);
    g_object_unref(data);
    return n;
  }

  // One bulk URB, served at once: the simulator answers a read within its
  // own time limit, so the URB is complete when the submit returns.
  void submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urb_data = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urb_data->data);
    const int pipe = pipe_of_endpoint(urb->endpoint);
    if (urb->type != USBDEVFS_URB_TYPE_BULK || pipe < 0) {
      problem("URB of type " + std::to_string(urb->type) + " to endpoint " +
              std::to_string(urb->endpoint));
      umockdev_ioctl_client_complete(client, -1, EINVAL);
      g_object_unref(urb_data);
      return;
    }
    if (pulled()) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      g_object_unref(urb_data);
      return;
    }
    const auto length = static_cast<std::size_t>(urb->buffer_length);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(
        urb_data, offsetof(usbdevfs_urb, buffer), length, nullptr);
    std::span<std::uint8_t> bytes(buffer->data, length);
    ++counts.urbs;
    PipeResult r;
    if (urb->endpoint & 0x80) {
      r = sim->read(static_cast<Pipe>(pipe), bytes);
      counts.bulk_in += r.moved;
    } else {
      r = sim->write(static_cast<Pipe>(pipe), bytes);
      counts.bulk_out += r.moved;
    }
    urb->actual_length = static_cast<int>(r.moved);
    // A transfer the cable did not finish reaches the host as a timed-out URB.
    urb->status = r.ok ? 0 : -ETIMEDOUT;
    finished.push_back(urb_data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(buffer);
  }

  void reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    if (finished.empty()) {
      umockdev_ioctl_client_complete(client, -1, pulled() ? ENODEV : EAGAIN);
      return;
    }
    UMockdevIoctlData* urb_data = finished.front();
    finished.erase(finished.begin());
    UMockdevIoctlData* urb_ptr = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(urb_ptr, 0, urb_data);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(urb_ptr);
    g_object_unref(urb_data);
  }

  gboolean on_ioctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard<std::mutex> hold(lock);
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(std::uint32_t), nullptr);
        const std::uint32_t value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                    USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        std::memcpy(caps->data, &value, sizeof value);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(caps);
        return TRUE;
      }
      case USBDEVFS_GETDRIVER:  // no kernel driver holds the interface
        umockdev_ioctl_client_complete(client, -1, ENODATA);
        return TRUE;
      case USBDEVFS_DISCONNECT_CLAIM: {
        // The claim with the kernel driver's detach in one step, as libusb
        // asks for it when told to detach the driver itself.
        const unsigned interface = leading_number(arg, sizeof(usbdevfs_disconnect_claim));
        if (refused_as_pulled(client)) return TRUE;
        if (interface != 0) problem("interface " + std::to_string(interface) + " claimed");
        ++counts.claims;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_RELEASEINTERFACE: {
        const unsigned interface = leading_number(arg, sizeof(unsigned));
        if (refused_as_pulled(client)) return TRUE;
        if (interface != 0) problem("interface " + std::to_string(interface) + " claimed");
        if (request == USBDEVFS_CLAIMINTERFACE) ++counts.claims;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_CLEAR_HALT: {
        const unsigned endpoint = leading_number(arg, sizeof(unsigned));
        if (refused_as_pulled(client)) return TRUE;
        counts.clear_halts.push_back(static_cast<int>(endpoint));
        const int pipe = pipe_of_endpoint(endpoint);
        PipeResult r = pipe < 0 ? PipeResult::failed("no such endpoint") : sim->reset(static_cast<Pipe>(pipe));
        if (!r.ok) problem("clear-halt of endpoint " + std::to_string(endpoint) + ": " + r.error);
        umockdev_ioctl_client_complete(client, r.ok ? 0 : -1, r.ok ? 0 : EPIPE);
        return TRUE;
      }
      case USBDEVFS_SUBMITURB:
        submit(client, arg);
        return TRUE;
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        reap(client, arg);
        return TRUE;
      case USBDEVFS_DISCARDURB:
        // Every URB is finished when its submit returns: nothing to take back.
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      default:
        return FALSE;
    }
  }
};

namespace {

gboolean handle_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer impl) {
  return static_cast<EmulatedUsbCable::Impl*>(impl)->on_ioctl(client);
}

}  // namespace

EmulatedUsbCable::EmulatedUsbCable(const SimOptions& sim) : impl_(std::make_unique<Impl>()) {
  impl_->sim = open_sim_cable(sim, impl_->sim_report, 5000);
  impl_->testbed = umockdev_testbed_new();
  impl_->handler = umockdev_ioctl_base_new();
  g_signal_connect(impl_->handler, "handle-ioctl", G_CALLBACK(handle_ioctl), impl_.get());
  // The handler first, so that the device answers as soon as it exists.
  umockdev_testbed_attach_ioctl(impl_->testbed, DEVICE_NODE, impl_->handler, nullptr);
  const std::string entry = std::string("P: /devices/usb1/1-1\n") +
                            "N: bus/usb/001/002\n"
                            "E: SUBSYSTEM=usb\n"
                            "E: DEVTYPE=usb_device\n"
                            "E: BUSNUM=001\n"
                            "E: DEVNUM=002\n"
                            "E: DEVNAME=" + DEVICE_NODE + "\n"
                            "A: busnum=1\\n\n"
                            "A: devnum=2\\n\n"
                            "A: bConfigurationValue=1\\n\n"
                            "A: speed=480\\n\n"
                            "H: descriptors=" + DESCRIPTORS + "\n";
  umockdev_testbed_add_from_string(impl_->testbed, entry.c_str(), nullptr);
}

EmulatedUsbCable::~EmulatedUsbCable() {
  {
    std::lock_guard<std::mutex> hold(impl_->lock);
    for (UMockdevIoctlData* urb : impl_->finished) g_object_unref(urb);
    impl_->finished.clear();
  }
  g_clear_object(&impl_->handler);
  g_clear_object(&impl_->testbed);
}

void EmulatedUsbCable::pull_after(std::size_t data_in_bytes) {
  std::lock_guard<std::mutex> hold(impl_->lock);
  impl_->pull_after = data_in_bytes;
}

EmulatedUsbCable::Counts EmulatedUsbCable::counts() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->counts;
}

std::string EmulatedUsbCable::problems() const {
  std::lock_guard<std::mutex> hold(impl_->lock);
  return impl_->problems;
}

}  // namespace kartex::test
