#include "link/win_pipes.h"

#include <windows.h>

#include <array>
#include <span>

#include "common/failure.h"
#include "link/cable_paths.h"
#include "link/transfer_wait.h"
#include "link/win_discovery.h"

namespace kartex {

static_assert(PIPE_RESET == CTL_CODE(FILE_DEVICE_UNKNOWN, 2, METHOD_BUFFERED, FILE_ANY_ACCESS));
static_assert(WIN_ERROR_OPERATION_ABORTED == ERROR_OPERATION_ABORTED);
static_assert(WIN_ERROR_DEVICE_NOT_CONNECTED == ERROR_DEVICE_NOT_CONNECTED);
static_assert(WIN_ERROR_GEN_FAILURE == ERROR_GEN_FAILURE);
static_assert(WIN_ERROR_BAD_COMMAND == ERROR_BAD_COMMAND);
static_assert(WIN_ERROR_FILE_NOT_FOUND == ERROR_FILE_NOT_FOUND);

namespace {

constexpr int CABLE_PIPES = 3;

std::string system_text(DWORD error) {
  char* text = nullptr;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string words = n && text ? std::string(text, n) : "unknown error";
  if (text) LocalFree(text);
  while (!words.empty() && (words.back() == '\n' || words.back() == '\r' ||
                            words.back() == ' ' || words.back() == '.'))
    words.pop_back();
  return words;
}

// Synchronous access would let a silent cable hang the tool: every handle
// is opened for overlapped I/O.
HANDLE open_overlapped(const std::string& path) {
  return CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
}

class WinPipes : public Pipes {
 public:
  WinPipes(HANDLE device, int timeout_ms) : device_(device), timeout_ms_(timeout_ms) {
    pipes_.fill(INVALID_HANDLE_VALUE);
    done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!done_) {
      const DWORD error = GetLastError();
      CloseHandle(device_);
      fail("cannot create an event for cable transfers: " + system_text(error));
    }
  }

  ~WinPipes() override {
    for (HANDLE pipe : pipes_)
      if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
    if (done_) CloseHandle(done_);
    CloseHandle(device_);
  }
  WinPipes(const WinPipes&) = delete;
  WinPipes& operator=(const WinPipes&) = delete;

  // Opened in the order the driver expects: command, data out, data in.
  void open_pipes(const std::string& device_path) {
    for (Pipe pipe : {Pipe::Command, Pipe::DataOut, Pipe::DataIn}) {
      const std::string path = pipe_path(device_path, pipe);
      HANDLE handle = open_overlapped(path);
      if (handle == INVALID_HANDLE_VALUE)
        fail(std::string("cannot open the cable's ") + pipe_name(pipe) + " " + path + ": " +
             system_text(GetLastError()));
      pipes_[static_cast<int>(pipe)] = handle;
    }
  }

  PipeResult write(Pipe pipe, std::span<const std::uint8_t> bytes) override {
    return transfer(pipe, [&](HANDLE h, OVERLAPPED* ov) {
      return WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, ov);
    }, bytes.size());
  }

  PipeResult read(Pipe pipe, std::span<std::uint8_t> bytes) override {
    return transfer(pipe, [&](HANDLE h, OVERLAPPED* ov) {
      return ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, ov);
    }, bytes.size());
  }

  PipeResult reset(Pipe pipe) override {
    return transfer(pipe, [](HANDLE h, OVERLAPPED* ov) {
      return DeviceIoControl(h, PIPE_RESET, nullptr, 0, nullptr, 0, nullptr, ov);
    }, 0);
  }

  void set_timeout(int ms) override { timeout_ms_ = ms; }

 private:
  template <typename Start>
  PipeResult transfer(Pipe pipe, Start start, std::size_t size) {
    if (size > MAXDWORD) return PipeResult::failed("transfer larger than 4 GiB");
    HANDLE handle = pipes_[static_cast<int>(pipe)];
    OVERLAPPED ov{};
    ov.hEvent = done_;
    ResetEvent(done_);
    WaitEnd end = WaitEnd::Completed;
    if (!start(handle, &ov)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING)
        return transfer_result(end, IoOutcome{false, error, 0}, timeout_ms_, system_text(error));
      if (WaitForSingleObject(done_, wait_limit_ms(timeout_ms_)) != WAIT_OBJECT_0) {
        // The driver still owns the buffer and the OVERLAPPED record: the
        // cancel must land before either goes away.
        end = WaitEnd::TimedOut;
        CancelIoEx(handle, &ov);
      }
    }
    DWORD moved = 0;
    const BOOL ok = GetOverlappedResult(handle, &ov, &moved, TRUE);
    const DWORD error = ok ? 0 : GetLastError();
    return transfer_result(end, IoOutcome{ok != FALSE, error, moved}, timeout_ms_,
                           ok ? std::string() : system_text(error));
  }

  HANDLE device_;  // held open for as long as the pipes are in use; carries no transfer
  std::array<HANDLE, CABLE_PIPES> pipes_{};
  HANDLE done_ = nullptr;  // signalled when an overlapped transfer ends
  int timeout_ms_;
};

}  // namespace

std::unique_ptr<Pipes> open_win_pipes(const std::string& device_path, int timeout_ms) {
  HANDLE device = open_overlapped(device_path);
  if (device == INVALID_HANDLE_VALUE) return nullptr;
  auto pipes = std::make_unique<WinPipes>(device, timeout_ms);
  pipes->open_pipes(device_path);
  return pipes;
}

std::unique_ptr<Pipes> open_win_cable(int timeout_ms) {
  const auto path = find_cable_path(CABLE_INTERFACE_GUID_BYTES, 0);
  if (!path) return nullptr;
  return open_win_pipes(*path, timeout_ms);
}

}  // namespace kartex
