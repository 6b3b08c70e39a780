#include "link/usb_pipes.h"

#include <libusb.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

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

class UsbPipes : public Pipes {
 public:
  UsbPipes(libusb_context* ctx, libusb_device_handle* handle,
           std::array<std::uint8_t, CABLE_ENDPOINTS> eps, int timeout_ms)
      : ctx_(ctx), handle_(handle), eps_(eps), timeout_ms_(timeout_ms) {}

  ~UsbPipes() override {
    libusb_release_interface(handle_, CABLE_INTERFACE);
    libusb_close(handle_);
    libusb_exit(ctx_);
  }
  UsbPipes(const UsbPipes&) = delete;
  UsbPipes& operator=(const UsbPipes&) = delete;

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override {
    // libusb takes a non-const buffer for both directions; it does not write an OUT buffer.
    return transfer(pipe, const_cast<std::uint8_t*>(bytes.data()), bytes.size());
  }

  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override {
    return transfer(pipe, bytes.data(), bytes.size());
  }

  void set_timeout(int ms) override { timeout_ms_ = ms; }

  PipeResult reset(Pipe pipe) override {
    int rc = libusb_clear_halt(handle_, eps_[static_cast<int>(pipe)]);
    if (rc != 0) return PipeResult::failed(libusb_strerror(static_cast<libusb_error>(rc)));
    return PipeResult::done(0);
  }

 private:
  PipeResult transfer(Pipe pipe, std::uint8_t* data, std::size_t size) {
    int moved = 0;
    int rc = libusb_bulk_transfer(handle_, eps_[static_cast<int>(pipe)], data,
                                  static_cast<int>(size), &moved,
                                  static_cast<unsigned>(timeout_ms_));
    if (rc == LIBUSB_ERROR_TIMEOUT)
      return PipeResult::failed(timeout_text(timeout_ms_), static_cast<std::size_t>(moved));
    if (rc != 0)
      return PipeResult::failed(libusb_strerror(static_cast<libusb_error>(rc)),
                                static_cast<std::size_t>(moved));
    return PipeResult::done(static_cast<std::size_t>(moved));
  }

  libusb_context* ctx_;
  libusb_device_handle* handle_;
  std::array<std::uint8_t, CABLE_ENDPOINTS> eps_;
  int timeout_ms_;
};

}  // namespace

std::unique_ptr<Pipes> open_usb_cable(std::optional<UsbId> id, int timeout_ms) {
  libusb_context* ctx = nullptr;
  // Without a USB subsystem (a container, a machine without usbfs) there is
  // no cable to find.
  if (libusb_init(&ctx) != 0) return nullptr;

  libusb_device** list = nullptr;
  ssize_t count = libusb_get_device_list(ctx, &list);
  libusb_device* chosen = nullptr;
  std::array<std::uint8_t, CABLE_ENDPOINTS> eps{};
  libusb_device_descriptor desc{};
  for (ssize_t i = 0; i < count && !chosen; ++i) {
    if (libusb_get_device_descriptor(list[i], &desc) != 0) continue;
    if (id && (desc.idVendor != id->vendor || desc.idProduct != id->product)) continue;
    auto found = cable_endpoints(list[i]);
    if (!found) {
      if (id)
        fail("USB device " + id_text(desc.idVendor, desc.idProduct) +
             " has no interface 0 with bulk OUT, IN, OUT endpoints: it is not the cable");
      continue;
    }
    eps = *found;
    chosen = libusb_ref_device(list[i]);
  }
  if (count >= 0) libusb_free_device_list(list, 1);
  if (!chosen) {
    libusb_exit(ctx);
    return nullptr;
  }

  libusb_device_handle* handle = nullptr;
  int rc = libusb_open(chosen, &handle);
  libusb_unref_device(chosen);
  const std::string name = id_text(desc.idVendor, desc.idProduct);
  if (rc == LIBUSB_ERROR_ACCESS) {
    libusb_exit(ctx);
    fail("no permission to open USB device " + name +
         ": install the udev rule with `sudo scripts/install-udev-rule.sh " + name +
         "`, then plug the cable in again");
  }
  if (rc != 0) {
    libusb_exit(ctx);
    fail("cannot open USB device " + name + ": " + libusb_strerror(static_cast<libusb_error>(rc)));
  }
  libusb_set_auto_detach_kernel_driver(handle, 1);
  if (rc = libusb_claim_interface(handle, CABLE_INTERFACE); rc != 0) {
    libusb_close(handle);
    libusb_exit(ctx);
    fail("cannot claim interface 0 of USB device " + name + ": " +
         libusb_strerror(static_cast<libusb_error>(rc)));
  }
  return std::make_unique<UsbPipes>(ctx, handle, eps, timeout_ms);
}

}  // namespace kartex
