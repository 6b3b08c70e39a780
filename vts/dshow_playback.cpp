// The playback graph: the framework's own chain for the file, with the
// plain video renderer put in first so that the picture has a window that
// can go full screen (the renderer the framework would pick on its own may
// have no full-screen mode), and the sound.

#include <dshow.h>

#include "vts/dshow_graph.h"
#include "vts/dshow_media.h"

namespace kartex {

namespace {

class PlaybackGraph : public Playback, private FileGraph {
 public:
  ~PlaybackGraph() override {
    if (control_) control_->Stop();
    if (window_) window_->put_Visible(OAFALSE);
  }

  bool open(const std::string& file_name, std::string& why) {
    if (!create(file_name, why)) return false;
    HRESULT hr = graph_->QueryInterface(IID_IVideoWindow, window_.out());
    if (FAILED(hr)) return fail(why, "IVideoWindow", hr);
    if (FAILED(hr = graph_->QueryInterface(IID_IMediaEvent, events_.out()))) return fail(why, "IMediaEvent", hr);
    ComRef<IBaseFilter> renderer;
    if (!add_filter(CLSID_VideoRenderer, L"video renderer", renderer, why)) return false;
    // Filters already in the graph are tried first when the file's chain
    // is built.
    if (FAILED(hr = graph_->RenderFile(wide_name(), nullptr))) return fail(why, "RenderFile", hr);
    // A picture the plain renderer could not take went to another one; an
    // idle renderer left in the graph would answer the window's calls.
    if (!input_connected(renderer.get())) graph_->RemoveFilter(renderer.get());
    return true;
  }

  std::int64_t position_ms() override {
    LONGLONG current = 0, stop = 0;
    if (FAILED(seeking_->GetPositions(&current, &stop)) || current < 0) return 0;
    return current / UNITS_PER_MS;
  }

  void seek_relative(std::int64_t milliseconds) override { seek_to(position_ms() + milliseconds); }

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
  ComRef<IVideoWindow> window_;
  ComRef<IMediaEvent> events_;
};

}  // namespace

std::unique_ptr<Playback> open_dshow_playback(const std::string& file_name, std::string& why) {
  auto graph = std::make_unique<PlaybackGraph>();
  if (!graph->open(file_name, why)) return nullptr;
  return graph;
}

}  // namespace kartex
