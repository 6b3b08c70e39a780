// The Windows player and grabber on DirectShow. The file is opened twice:
// a playback graph that plays it in its own window with sound (its position
// is the stream's clock), and a grab graph, window hidden and sound muted,
// that stays paused and is only moved ahead of playback, so that it decodes
// just the picture at each new position, which the renderer then hands over
// as a finished bitmap.

#include <dshow.h>

#include <climits>

#include "common/output.h"
#include "vts/dshow_com.h"
#include "vts/dxplay.h"

namespace kartex {

namespace {

// DirectShow counts time in units of 100 ns.
constexpr LONGLONG UNITS_PER_MS = 10000;
// A state change may still be under way: wait this long for it to settle.
constexpr LONG STATE_WAIT_MS = 1000;
// Full attenuation, in hundredths of a decibel: silence.
constexpr long SILENT_VOLUME = -10000;

// The failing step's place in this file and the system's word on it.
std::string step_failed(int line, const char* what, HRESULT hr) {
  return strprintf("%s:%d: %s", __FILE_NAME__, line, hresult_text(what, hr).c_str());
}

// Positions at a key frame: the decoder need not run forward from one.
void seek_to(IMediaSeeking* seeking, std::int64_t milliseconds) {
  LONGLONG target = milliseconds * UNITS_PER_MS;
  seeking->SetPositions(&target, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, nullptr,
                        AM_SEEKING_NoPositioning);
}

// What both graphs are: COM on the thread, a filter graph, the file's
// name in UTF-16, and the interfaces both use. The graph stops and its
// window hides when it goes.
class FileGraph {
 protected:
  ~FileGraph() {
    if (control_) control_->Stop();
    if (window_) window_->put_Visible(OAFALSE);
  }

  // False with the reason in `why`.
  bool create(const std::string& file_name, std::string& why) {
    if (!com_.usable()) return fail(why, __LINE__, "CoInitialize", com_.result());
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                  graph_.out());
    if (FAILED(hr)) return fail(why, __LINE__, "CoCreateInstance", hr);
    wide_ = wide_file_name(file_name, why);
    if (wide_.empty()) return false;
    if (FAILED(hr = graph_->QueryInterface(IID_IMediaControl, control_.out())))
      return fail(why, __LINE__, "IMediaControl", hr);
    if (FAILED(hr = graph_->QueryInterface(IID_IVideoWindow, window_.out())))
      return fail(why, __LINE__, "IVideoWindow", hr);
    if (FAILED(hr = graph_->QueryInterface(IID_IMediaSeeking, seeking_.out())))
      return fail(why, __LINE__, "IMediaSeeking", hr);
    return true;
  }

  // The framework's own chain for the file: a renderer with its window,
  // and the sound.
  bool render(std::string& why) {
    const HRESULT hr = graph_->RenderFile(wide_.data(), nullptr);
    return SUCCEEDED(hr) || fail(why, __LINE__, "RenderFile", hr);
  }

  static bool fail(std::string& why, int line, const char* what, HRESULT hr) {
    why = step_failed(line, what, hr);
    return false;
  }

  ComApartment com_;  // first in, last out: the interfaces go before COM
  ComRef<IGraphBuilder> graph_;
  ComRef<IMediaControl> control_;
  ComRef<IVideoWindow> window_;
  ComRef<IMediaSeeking> seeking_;

 private:
  std::vector<wchar_t> wide_;
};

class PlaybackGraph : public Playback, private FileGraph {
 public:
  bool open(const std::string& file_name, std::string& why) {
    if (!create(file_name, why)) return false;
    const HRESULT hr = graph_->QueryInterface(IID_IMediaEvent, events_.out());
    if (FAILED(hr)) return fail(why, __LINE__, "IMediaEvent", hr);
    return render(why);
  }

  std::int64_t position_ms() override {
    LONGLONG current = 0, stop = 0;
    if (FAILED(seeking_->GetPositions(&current, &stop)) || current < 0) return 0;
    return current / UNITS_PER_MS;
  }

  void seek_relative(std::int64_t milliseconds) override {
    const std::int64_t target = position_ms() + milliseconds;
    seek_to(seeking_.operator->(), target < 0 ? 0 : target);
  }

  bool is_paused(bool& paused) override {
    OAFilterState state = State_Stopped;
    if (FAILED(control_->GetState(STATE_WAIT_MS, &state))) return false;
    paused = state != State_Running;
    return true;
  }

  bool set_paused(bool paused) override { return SUCCEEDED(paused ? control_->Pause() : control_->Run()); }

  bool is_full_screen(bool& full) override {
    long mode = OAFALSE;
    if (FAILED(window_->get_FullScreenMode(&mode))) return false;
    full = mode != OAFALSE;
    return true;
  }

  bool set_full_screen(bool full) override {
    return SUCCEEDED(window_->put_FullScreenMode(full ? OATRUE : OAFALSE));
  }

 private:
  ComRef<IMediaEvent> events_;
};

class GrabGraph : public Grabber, private FileGraph {
 public:
  bool open(const std::string& file_name, std::string& why) {
    if (!create(file_name, why)) return false;
    HRESULT hr = graph_->QueryInterface(IID_IBasicAudio, audio_.out());
    if (FAILED(hr)) return fail(why, __LINE__, "IBasicAudio", hr);
    if (!render(why)) return false;
    // The renderer's picture interface exists once the file is rendered.
    if (FAILED(hr = graph_->QueryInterface(IID_IBasicVideo, video_.out())))
      return fail(why, __LINE__, "IBasicVideo", hr);
    if (FAILED(hr = window_->put_AutoShow(OAFALSE))) return fail(why, __LINE__, "put_AutoShow", hr);
    if (FAILED(hr = window_->put_Visible(OAFALSE))) return fail(why, __LINE__, "put_Visible", hr);
    // A file without sound has no renderer to mute; that is no failure.
    audio_->put_Volume(SILENT_VOLUME);
    if (FAILED(hr = control_->Run())) return fail(why, __LINE__, "Run", hr);
    // Paused, the graph is cued and holds a current picture.
    control_->Pause();
    OAFilterState state = State_Stopped;
    control_->GetState(STATE_WAIT_MS, &state);
    return true;
  }

  std::size_t image_size() const override {
    long size = 0;
    if (FAILED(video_->GetCurrentImage(&size, nullptr)) || size <= 0) return 0;
    return static_cast<std::size_t>(size);
  }

  bool copy_to(std::span<std::uint8_t> buffer) const override {
    // The renderer checks the size it is given and writes nothing when the
    // picture does not fit.
    long size = buffer.size() > static_cast<std::size_t>(LONG_MAX) ? LONG_MAX : static_cast<long>(buffer.size());
    return SUCCEEDED(video_->GetCurrentImage(&size, reinterpret_cast<long*>(buffer.data())));
  }

  void position_at(std::int64_t milliseconds) override { seek_to(seeking_.operator->(), milliseconds); }

  std::int64_t duration_ms() const override {
    LONGLONG units = 0;
    return SUCCEEDED(seeking_->GetDuration(&units)) ? units / UNITS_PER_MS : -1;
  }

 private:
  ComRef<IBasicAudio> audio_;
  ComRef<IBasicVideo> video_;
};

template <class Graph, class Base>
std::unique_ptr<Base> open_graph(const std::string& file_name, std::string& why) {
  auto graph = std::make_unique<Graph>();
  if (!graph->open(file_name, why)) return nullptr;
  return graph;
}

}  // namespace

// The outputs are the system's own here: DirectShow picks the renderers.
MediaOpeners media_openers(const MediaOutputs&) {
  return MediaOpeners{
      [](const std::string& file, std::string& why) { return open_graph<PlaybackGraph, Playback>(file, why); },
      [](const std::string& file, std::string& why) { return open_graph<GrabGraph, Grabber>(file, why); },
  };
}

}  // namespace kartex
