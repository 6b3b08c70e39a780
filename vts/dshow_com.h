#pragma once
// What the DirectShow player and grabber share: COM interface pointers
// released once, the thread's COM apartment, the file name in UTF-16, and
// the system's text for a failure. Windows only.

#include <windows.h>

#include <string>
#include <vector>

namespace kartex {

// One reference to a COM interface, released when it goes.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;
  ComRef(ComRef&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  ComRef& operator=(ComRef&& other) noexcept {
    if (this != &other) {
      reset();
      p_ = other.p_;
      other.p_ = nullptr;
    }
    return *this;
  }
  ~ComRef() { reset(); }

  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  T* operator->() const { return p_; }
  T* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For the calls that hand out a new reference: QueryInterface's untyped
  // form and the typed one.
  void** out() { return reinterpret_cast<void**>(put()); }
  T** put() {
    reset();
    return &p_;
  }

 private:
  T* p_ = nullptr;
};

// COM on this thread, as a single-threaded apartment, for as long as the
// object lives. A thread already in another apartment keeps it.
class ComApartment {
 public:
  ComApartment();
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;
  ~ComApartment();
  HRESULT result() const { return hr_; }
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// "what: the system's text (0x8007xxxx)" for a failed call.
std::string hresult_text(const char* what, HRESULT hr);

// Shows the system's text for a Windows error code in a message box
// captioned "error message"; waits for the user.
void show_system_error(DWORD code);

// `name` (ANSI code page) in UTF-16, terminated. On failure the system's
// message is shown and `why` says so; the result is then empty.
std::vector<wchar_t> wide_file_name(const std::string& name, std::string& why);

}  // namespace kartex
