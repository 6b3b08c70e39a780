#include "vts/dshow_com.h"

#include <dshow.h>

#include "common/output.h"
#include "vts/wide_name.h"

namespace kartex {

namespace {

// The media framework's own failures have no text in the system's tables.
const char* media_error_text(HRESULT hr) {
  switch (hr) {
    case VFW_E_UNKNOWN_FILE_TYPE:
      return "the media type of this file is not recognized";
    case VFW_E_UNSUPPORTED_STREAM:
      return "the file has no stream that can be played";
    case VFW_E_INVALID_FILE_FORMAT:
      return "the file format is invalid";
    case VFW_E_CANNOT_RENDER:
      return "no combination of filters renders the stream";
    case VFW_E_CANNOT_CONNECT:
      return "no combination of intermediate filters connects the stream";
    case VFW_E_NOT_FOUND:
      return "an object or name was not found";
    default:
      return nullptr;
  }
}

std::string system_text(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                     FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                 reinterpret_cast<char*>(&text), 0, nullptr);
  std::string s = n && text ? std::string(text, n) : std::string();
  if (text) LocalFree(text);
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.')) s.pop_back();
  return s;
}

}  // namespace

ComApartment::ComApartment() : hr_(CoInitialize(nullptr)) {}

ComApartment::~ComApartment() {
  // S_FALSE (already initialised here) counts too: one uninitialise for
  // each initialise that succeeded.
  if (SUCCEEDED(hr_)) CoUninitialize();
}

std::string hresult_text(const char* what, HRESULT hr) {
  std::string text = media_error_text(hr) ? media_error_text(hr) : system_text(static_cast<DWORD>(hr));
  if (text.empty()) text = "failed";
  return strprintf("%s: %s (0x%08lX)", what, text.c_str(), static_cast<unsigned long>(hr));
}

void show_system_error(DWORD code) {
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code,
                 MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&text), 0, nullptr);
  MessageBoxA(nullptr, text ? text : "", "error message", MB_ICONERROR);
  if (text) LocalFree(text);
}

std::vector<wchar_t> wide_file_name(const std::string& name, std::string& why) {
  std::vector<wchar_t> wide = to_wide_name<wchar_t>(name, [](const char* n, wchar_t* out, int capacity) {
    return MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, n, -1, out, capacity);
  });
  if (wide.empty()) {
    const DWORD code = GetLastError();
    why = strprintf("file name: %s", system_text(code).c_str());
    show_system_error(code);
  }
  return wide;
}

}  // namespace kartex
