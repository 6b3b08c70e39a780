#include "link/usb_pipes.h"

#include <libusb.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "common/failure.h"
#include "link/transfer_wait.h"

namespace kartex {

namespace {

constexpr int CABLE_INTERFACE = 0;
constexpr int CABLE_ENDPOINTS = 3;

// Directions the three pipes must have, in descriptor order.
constexpr std::array<bool, CABLE_ENDPOINTS> PIPE_IS_IN = {false, true, false};

std::string id_text(std::uint16_t vendor, std::uint16_t product) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
  return text;
}

// Endpoint addresses of interface 0 when they fit the cable's layout.
std::optional<std::array<std::uint8_t, CABLE_ENDPOINTS>> cable_endpoints(libusb_device* dev) {
  libusb_config_descriptor* config = nullptr;
  if (libusb_get_active_config_descriptor(dev, &config) != 0 &&
      libusb_get_config_descriptor(dev, 0, &config) != 0)
    return std::nullopt;
  std::optional<std::array<std::uint8_t, CABLE_ENDPOINTS>> found;
  if (config->bNumInterfaces > CABLE_INTERFACE &&
      config->interface[CABLE_INTERFACE].num_altsetting > 0) {
    const libusb_interface_descriptor& alt = config->interface[CABLE_INTERFACE].altsetting[0];
    if (alt.bNumEndpoints == CABLE_ENDPOINTS) {
      std::array<std::uint8_t, CABLE_ENDPOINTS> eps{};
      bool fits = true;
      for (int i = 0; i < CABLE_ENDPOINTS; ++i) {
        const libusb_endpoint_descriptor& ep = alt.endpoint[i];
        bool bulk = (ep.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK;
        bool in = (ep.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
        fits = fits && bulk && in == PIPE_IS_IN[i];
        eps[i] = ep.bEndpointAddress;
      }
      if (fits) found = eps;
    }
  }
  libusb_free_config_descriptor(config);
  return found;
}

// Each libusb resource released by its owner, in the reverse order of
// opening, on every path out: a failure halfway leaks nothing.
struct ContextCloser {
  void operator()(libusb_context* ctx) const { libusb_exit(ctx); }
};
using UsbContext = std::unique_ptr<libusb_context, ContextCloser>;

struct DeviceListCloser {
  void operator()(libusb_device** list) const { libusb_free_device_list(list, 1); }
};
using DeviceList = std::unique_ptr<libusb_device*, DeviceListCloser>;

struct DeviceUnref {
  void operator()(libusb_device* dev) const { libusb_unref_device(dev); }
};
using DeviceRef = std::unique_ptr<libusb_device, DeviceUnref>;

struct HandleCloser {
  void operator()(libusb_device_handle* handle) const { libusb_close(handle); }
};
using DeviceHandle = std::unique_ptr<libusb_device_handle, HandleCloser>;

// The claim of interface 0, given back before the handle closes.
class ClaimedInterface {
 public:
  explicit ClaimedInterface(libusb_device_handle* handle) : handle_(handle) {}
  ~ClaimedInterface() { libusb_release_interface(handle_, CABLE_INTERFACE); }
  ClaimedInterface(const ClaimedInterface&) = delete;
  ClaimedInterface& operator=(const ClaimedInterface&) = delete;

 private:
  libusb_device_handle* handle_;
};

class UsbPipes : public Pipes {
 public:
  UsbPipes(UsbContext ctx, DeviceHandle handle, std::array<std::uint8_t, CABLE_ENDPOINTS> eps,
           int timeout_ms)
      : ctx_(std::move(ctx)), handle_(std::move(handle)), claim_(handle_.get()), eps_(eps),
        timeout_ms_(timeout_ms) {}

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override {
    // libusb takes a non-const buffer for both directions; it does not write an OUT buffer.
    return transfer(pipe, const_cast<std::uint8_t*>(bytes.data()), bytes.size());
  }

  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override {
    return transfer(pipe, bytes.data(), bytes.size());
  }

  void set_timeout(int ms) override { timeout_ms_ = ms; }

  PipeResult reset(Pipe pipe) override {
    int rc = libusb_clear_halt(handle_.get(), eps_[static_cast<int>(pipe)]);
    if (rc != 0) return PipeResult::failed(libusb_strerror(static_cast<libusb_error>(rc)));
    return PipeResult::done(0);
  }

 private:
  PipeResult transfer(Pipe pipe, std::uint8_t* data, std::size_t size) {
    int moved = 0;
    int rc = libusb_bulk_transfer(handle_.get(), eps_[static_cast<int>(pipe)], data,
                                  static_cast<int>(size), &moved,
                                  static_cast<unsigned>(timeout_ms_));
    if (rc == LIBUSB_ERROR_TIMEOUT)
      return PipeResult::failed(timeout_text(timeout_ms_), static_cast<std::size_t>(moved));
    if (rc != 0)
      return PipeResult::failed(libusb_strerror(static_cast<libusb_error>(rc)),
                                static_cast<std::size_t>(moved));
    return PipeResult::done(static_cast<std::size_t>(moved));
  }

  // Members are destroyed bottom-up: the claim goes, then the handle, then
  // the context.
  UsbContext ctx_;
  DeviceHandle handle_;
  ClaimedInterface claim_;
  std::array<std::uint8_t, CABLE_ENDPOINTS> eps_;
  int timeout_ms_;
};

struct ChosenDevice {
  DeviceRef device;
  std::array<std::uint8_t, CABLE_ENDPOINTS> eps{};
  libusb_device_descriptor desc{};
};

// The device `id`, or the first that has the cable's endpoints.
std::optional<ChosenDevice> choose_device(libusb_context* ctx, const std::optional<UsbId>& id) {
  libusb_device** raw = nullptr;
  ssize_t count = libusb_get_device_list(ctx, &raw);
  if (count < 0) return std::nullopt;
  DeviceList list(raw);
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor desc{};
    if (libusb_get_device_descriptor(raw[i], &desc) != 0) continue;
    if (id && (desc.idVendor != id->vendor || desc.idProduct != id->product)) continue;
    auto found = cable_endpoints(raw[i]);
    if (!found) {
      if (id)
        fail("USB device " + id_text(desc.idVendor, desc.idProduct) +
             " has no interface 0 with bulk OUT, IN, OUT endpoints: it is not the cable");
      continue;
    }
    return ChosenDevice{DeviceRef(libusb_ref_device(raw[i])), *found, desc};
  }
  return std::nullopt;
}

}  // namespace

std::unique_ptr<Pipes> open_usb_cable(std::optional<UsbId> id, int timeout_ms) {
  libusb_context* raw_ctx = nullptr;
  // Without a USB subsystem (a container, a machine without usbfs) there is
  // no cable to find.
  if (libusb_init(&raw_ctx) != 0) return nullptr;
  UsbContext ctx(raw_ctx);

  std::optional<ChosenDevice> chosen = choose_device(ctx.get(), id);
  if (!chosen) return nullptr;

  libusb_device_handle* raw_handle = nullptr;
  int rc = libusb_open(chosen->device.get(), &raw_handle);
  chosen->device.reset();
  const std::string name = id_text(chosen->desc.idVendor, chosen->desc.idProduct);
  if (rc == LIBUSB_ERROR_ACCESS)
    fail("no permission to open USB device " + name +
         ": install the udev rule with `sudo scripts/install-udev-rule.sh " + name +
         "`, then plug the cable in again");
  if (rc != 0)
    fail("cannot open USB device " + name + ": " + libusb_strerror(static_cast<libusb_error>(rc)));
  DeviceHandle handle(raw_handle);
  libusb_set_auto_detach_kernel_driver(handle.get(), 1);
  if (rc = libusb_claim_interface(handle.get(), CABLE_INTERFACE); rc != 0)
    fail("cannot claim interface 0 of USB device " + name + ": " +
         libusb_strerror(static_cast<libusb_error>(rc)));
  return std::make_unique<UsbPipes>(std::move(ctx), std::move(handle), chosen->eps, timeout_ms);
}

}  // namespace kartex
