#pragma once
// A stand-in for the cable's driver under Windows (and wine): named pipes
// at "<device>" and "<device>\if000pipe00N", so that the Windows transport's
// own CreateFile, ReadFile, WriteFile, waits and cancels run against
// something that answers, or stays silent, when a test says so.

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "link/cable_paths.h"

namespace kartex::test {

class PipeServer {
 public:
  // `name_length`: how long the device path is at least. (Named pipes take
  // at most 256 characters, so long device paths are checked elsewhere.)
  explicit PipeServer(std::size_t name_length = 40, DWORD buffer_size = 65536) {
    static int serial = 0;
    device_ = "\\\\.\\pipe\\kartex-test-" + std::to_string(GetCurrentProcessId()) + "-" +
              std::to_string(++serial) + "-";
    if (device_.size() < name_length) device_ += std::string(name_length - device_.size(), 'p');
    device_end_ = create(device_, buffer_size);
    for (Pipe pipe : {Pipe::Command, Pipe::DataIn, Pipe::DataOut})
      ends_[static_cast<int>(pipe)] = create(pipe_path(device_, pipe), buffer_size);
  }
  ~PipeServer() {
    for (HANDLE h : ends_) close(h);
    close(device_end_);
  }
  PipeServer(const PipeServer&) = delete;
  PipeServer& operator=(const PipeServer&) = delete;

  const std::string& device_path() const { return device_; }
  bool ready() const {
    if (device_end_ == INVALID_HANDLE_VALUE) return false;
    for (HANDLE h : ends_)
      if (h == INVALID_HANDLE_VALUE) return false;
    return true;
  }

  // Bytes the tool wrote on `pipe`: up to `size`, waiting at most `ms`.
  std::vector<std::uint8_t> take(Pipe pipe, std::size_t size, DWORD ms = 2000) {
    std::vector<std::uint8_t> bytes(size);
    DWORD n = io(end(pipe), false, bytes.data(), static_cast<DWORD>(size), ms);
    bytes.resize(n);
    return bytes;
  }

  // Bytes for the tool to read on `pipe`; returns how many went in.
  DWORD give(Pipe pipe, const std::vector<std::uint8_t>& bytes, DWORD ms = 2000) {
    return io(end(pipe), true, const_cast<std::uint8_t*>(bytes.data()),
              static_cast<DWORD>(bytes.size()), ms);
  }

  // The far end of `pipe` goes away, as a pulled cable's does.
  void pull(Pipe pipe) {
    HANDLE& h = ends_[static_cast<int>(pipe)];
    close(h);
    h = INVALID_HANDLE_VALUE;
  }
  // The device itself has no pipe of this number (a driver of another kind).
  void remove(Pipe pipe) { pull(pipe); }

 private:
  static HANDLE create(const std::string& name, DWORD buffer_size) {
    return CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, buffer_size,
                            buffer_size, 0, nullptr);
  }
  static void close(HANDLE h) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
  HANDLE end(Pipe pipe) const { return ends_[static_cast<int>(pipe)]; }

  static DWORD io(HANDLE h, bool write, std::uint8_t* data, DWORD size, DWORD ms) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    BOOL started = write ? WriteFile(h, data, size, nullptr, &ov)
                         : ReadFile(h, data, size, nullptr, &ov);
    DWORD n = 0;
    if (started || GetLastError() == ERROR_IO_PENDING) {
      if (WaitForSingleObject(ov.hEvent, ms) != WAIT_OBJECT_0) CancelIoEx(h, &ov);
      GetOverlappedResult(h, &ov, &n, TRUE);
    }
    CloseHandle(ov.hEvent);
    return n;
  }

  std::string device_;
  HANDLE device_end_ = INVALID_HANDLE_VALUE;
  std::array<HANDLE, 3> ends_{INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE, INVALID_HANDLE_VALUE};
};

}  // namespace kartex::test
