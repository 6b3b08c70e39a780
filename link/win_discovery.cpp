#include "link/win_discovery.h"

#include <windows.h>
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <vector>

#include "link/cable_paths.h"

namespace kartex {

static_assert(sizeof(GUID) == 16);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == DETAIL_PATH_OFFSET);

namespace {

// The device information set is destroyed on every way out of discovery.
class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(HDEVINFO set) : set_(set) {}
  ~DeviceInfoSet() {
    if (valid()) SetupDiDestroyDeviceInfoList(set_);
  }
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;
  bool valid() const { return set_ != INVALID_HANDLE_VALUE; }
  HDEVINFO get() const { return set_; }

 private:
  HDEVINFO set_;
};

}  // namespace

std::optional<std::string> find_cable_path(const std::array<std::uint8_t, 16>& interface_class,
                                           unsigned index) {
  GUID guid;
  std::memcpy(&guid, interface_class.data(), sizeof guid);
  DeviceInfoSet set(SetupDiGetClassDevsA(&guid, nullptr, nullptr,
                                         DIGCF_PRESENT | DIGCF_DEVICEINTERFACE));
  if (!set.valid()) return std::nullopt;

  // The size fields take the records' sizes for this build's pointer width:
  // a 64-bit process must give 32 and 8, where a 32-bit one gives 28 and 5.
  SP_DEVICE_INTERFACE_DATA data{};
  data.cbSize = sizeof data;
  if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, index, &data)) return std::nullopt;

  DWORD required = 0;
  if (SetupDiGetDeviceInterfaceDetailA(set.get(), &data, nullptr, 0, &required, nullptr) ||
      GetLastError() != ERROR_INSUFFICIENT_BUFFER)
    return std::nullopt;
  if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A))
    required = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  // Sized as the system asks: the path has no length limit of ours.
  std::vector<std::uint8_t> record(required);
  auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(record.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!SetupDiGetDeviceInterfaceDetailA(set.get(), &data, detail, required, nullptr, nullptr))
    return std::nullopt;
  return device_path_from_detail(record);
}

}  // namespace kartex
