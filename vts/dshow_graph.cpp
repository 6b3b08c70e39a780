#include "vts/dshow_graph.h"

#include <cstring>

#include "common/output.h"

namespace kartex {

namespace {

// The source file's own name, without its folders.
const char* base_name(const char* path) {
  const char* name = path;
  for (const char* p = path; *p; ++p)
    if (*p == '/' || *p == '\\') name = p + 1;
  return name;
}

}  // namespace

bool FileGraph::fail(std::string& why, const char* what, HRESULT hr, std::source_location at) {
  why = strprintf("%s:%u: %s", base_name(at.file_name()), static_cast<unsigned>(at.line()),
                  hresult_text(what, hr).c_str());
  return false;
}

bool FileGraph::create(const std::string& file_name, std::string& why) {
  if (!com_.usable()) return fail(why, "CoInitialize", com_.result());
  HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.out());
  if (FAILED(hr)) return fail(why, "CoCreateInstance", hr);
  wide_ = wide_file_name(file_name, why);
  if (wide_.empty()) return false;
  if (FAILED(hr = graph_->QueryInterface(IID_IMediaControl, control_.out()))) return fail(why, "IMediaControl", hr);
  if (FAILED(hr = graph_->QueryInterface(IID_IMediaSeeking, seeking_.out()))) return fail(why, "IMediaSeeking", hr);
  return true;
}

bool FileGraph::add_filter(REFCLSID clsid, const wchar_t* name, ComRef<IBaseFilter>& filter, std::string& why) {
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.out());
  if (FAILED(hr)) return fail(why, "CoCreateInstance", hr);
  if (FAILED(hr = graph_->AddFilter(filter.get(), name))) return fail(why, "AddFilter", hr);
  return true;
}

void FileGraph::seek_to(std::int64_t milliseconds) {
  LONGLONG target = (milliseconds < 0 ? 0 : milliseconds) * UNITS_PER_MS;
  seeking_->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, nullptr,
                         AM_SEEKING_NoPositioning);
}

ComRef<IPin> find_pin(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnected) {
  ComRef<IEnumPins> pins;
  ComRef<IPin> found;
  if (FAILED(filter->EnumPins(pins.put()))) return found;
  for (;;) {
    ComRef<IPin> pin;
    if (pins->Next(1, pin.put(), nullptr) != S_OK) break;
    PIN_DIRECTION d;
    if (FAILED(pin->QueryDirection(&d)) || d != direction) continue;
    if (unconnected) {
      ComRef<IPin> peer;
      if (SUCCEEDED(pin->ConnectedTo(peer.put()))) continue;
    }
    found = std::move(pin);
    break;
  }
  return found;
}

bool input_connected(IBaseFilter* filter) {
  ComRef<IEnumPins> pins;
  if (FAILED(filter->EnumPins(pins.put()))) return false;
  for (;;) {
    ComRef<IPin> pin;
    if (pins->Next(1, pin.put(), nullptr) != S_OK) return false;
    PIN_DIRECTION d;
    ComRef<IPin> peer;
    if (SUCCEEDED(pin->QueryDirection(&d)) && d == PINDIR_INPUT &&
        SUCCEEDED(pin->ConnectedTo(peer.put())))
      return true;
  }
}

}  // namespace kartex
