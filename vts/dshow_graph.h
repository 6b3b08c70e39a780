#pragma once
// What the DirectShow playback and grab graphs share: COM on the thread, a
// filter graph for one file, its control and seeking interfaces, filters
// added by class, and the reason line for a step that failed. Windows only.

#include <dshow.h>

#include <cstdint>
#include <source_location>
#include <string>
#include <vector>

#include "vts/dshow_com.h"

namespace kartex {

// DirectShow counts time in units of 100 ns.
constexpr LONGLONG UNITS_PER_MS = 10000;
// A state change may still be under way: wait this long for it to settle.
constexpr LONG STATE_WAIT_MS = 1000;

class FileGraph {
 public:
  FileGraph(const FileGraph&) = delete;
  FileGraph& operator=(const FileGraph&) = delete;

 protected:
  FileGraph() = default;
  ~FileGraph() = default;

  // COM, the graph, the file's name in UTF-16, IMediaControl and
  // IMediaSeeking. False with the reason in `why`.
  bool create(const std::string& file_name, std::string& why);

  // Creates a filter of class `clsid` and adds it to the graph as `name`.
  bool add_filter(REFCLSID clsid, const wchar_t* name, ComRef<IBaseFilter>& filter, std::string& why);

  // Moves the graph to `milliseconds` from the file's start (0 at the
  // least), asking for the key frame at or before it.
  void seek_to(std::int64_t milliseconds);

  // "dshow_FILE.cpp:LINE: what: the system's text (0x...)" into `why`;
  // false, for `return fail(...)`.
  static bool fail(std::string& why, const char* what, HRESULT hr,
                   std::source_location at = std::source_location::current());

  const wchar_t* wide_name() const { return wide_.data(); }

  ComApartment com_;  // first in, last out: the interfaces go before COM
  ComRef<IGraphBuilder> graph_;
  ComRef<IMediaControl> control_;
  ComRef<IMediaSeeking> seeking_;

 private:
  std::vector<wchar_t> wide_;
};

// A pin of `filter` in `direction`; with `unconnected`, only one that is
// free. Empty when there is none.
ComRef<IPin> find_pin(IBaseFilter* filter, PIN_DIRECTION direction, bool unconnected);

// True when some input pin of `filter` is connected.
bool input_connected(IBaseFilter* filter);

}  // namespace kartex
