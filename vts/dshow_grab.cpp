// The grab graph: the file's source, then the Sample Grabber, which takes
// the pictures only as 24-bit (or else 32-bit) RGB so that the framework
// puts in whatever decoder and colour converter the file needs, then the
// Null Renderer. No window and no sound: the file's audio is left
// unconnected. The graph stays paused; each positioning makes it decode
// the picture at the new place, which the grabber's callback keeps.

#include <dshow.h>
#include <qedit.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vts/dib.h"
#include "vts/dshow_graph.h"
#include "vts/dshow_media.h"
#include "vts/dshow_picture.h"
#include "vts/frame_convert.h"

namespace kartex {

namespace {

// qedit's two filters, by their published class identifiers (mingw's
// headers declare their interfaces but not these).
constexpr GUID SAMPLE_GRABBER_FILTER = {0xC1F400A0, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};
constexpr GUID NULL_RENDERER_FILTER = {0xC1F400A4, 0x3F08, 0x11D3, {0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37}};

// A decoded picture reaches the grabber within a few tens of milliseconds
// of a positioning; past this the position is taken to have no picture.
constexpr int PICTURE_WAIT_MS = 2000;
// Frames of the file when its header gives no rate.
constexpr LONGLONG DEFAULT_FRAME_UNITS = 400000;  // 25 per second

// The depths the frame converter decodes, in the order asked for.
const GUID* const WANTED_SUBTYPES[] = {&MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32};

bool debugging() {
  static const bool on = std::getenv("KARTEX_DSHOW_DEBUG") != nullptr;
  return on;
}

class GrabGraph : public Grabber, private FileGraph {
 public:
  ~GrabGraph() override {
    if (control_) control_->Stop();
    if (grabber_) grabber_->SetCallback(nullptr, 0);
    if (catcher_) catcher_->Release();
  }

  bool open(const std::string& file_name, std::string& why) {
    if (!create(file_name, why)) return false;
    ComRef<IBaseFilter> grab_filter, null_filter, source;
    if (!add_filter(SAMPLE_GRABBER_FILTER, L"sample grabber", grab_filter, why)) return false;
    HRESULT hr = grab_filter->QueryInterface(IID_ISampleGrabber, grabber_.out());
    if (FAILED(hr)) return fail(why, "ISampleGrabber", hr);
    if (!add_filter(NULL_RENDERER_FILTER, L"null renderer", null_filter, why)) return false;
    if (FAILED(hr = graph_->AddSourceFilter(wide_name(), L"source", source.put())))
      return fail(why, "AddSourceFilter", hr);
    if (!connect_video(source.get(), grab_filter.get(), why)) return false;
    ComRef<IPin> grab_out = find_pin(grab_filter.get(), PINDIR_OUTPUT, true);
    ComRef<IPin> null_in = find_pin(null_filter.get(), PINDIR_INPUT, true);
    if (!grab_out || !null_in) return fail(why, "EnumPins", E_UNEXPECTED);
    if (FAILED(hr = graph_->ConnectDirect(grab_out.get(), null_in.get(), nullptr)))
      return fail(why, "ConnectDirect", hr);
    if (!take_format(why)) return false;

    catcher_ = new PictureCatcher;
    if (FAILED(hr = grabber_->SetBufferSamples(FALSE))) return fail(why, "SetBufferSamples", hr);
    if (FAILED(hr = grabber_->SetOneShot(FALSE))) return fail(why, "SetOneShot", hr);
    if (FAILED(hr = grabber_->SetCallback(catcher_, 0))) return fail(why, "SetCallback", hr);
    LONGLONG units = 0;
    if (SUCCEEDED(seeking_->GetDuration(&units)) && units > 0) duration_units_ = units;
    // Paused, the graph is cued at the start and holds its first picture.
    asked_ = catcher_->count();
    target_units_ = 0;
    if (FAILED(hr = control_->Pause())) return fail(why, "Pause", hr);
    OAFilterState state = State_Stopped;
    control_->GetState(STATE_WAIT_MS, &state);
    if (!catcher_->wait_past(asked_, PICTURE_WAIT_MS)) return fail(why, "the first picture", VFW_E_TIMEOUT);
    return true;
  }

  std::size_t image_size() const override { return layout_.total_bytes(); }

  bool copy_to(std::span<std::uint8_t> buffer) override {
    if (buffer.size() < image_size()) return false;
    if (!settle()) return false;
    const std::size_t stride = layout_.stride();
    if (picture_.bytes.size() < layout_.pixel_bytes()) return false;
    std::vector<std::uint8_t> dib = make_dib(layout_);
    std::memcpy(buffer.data(), dib.data(), BMP_INFO_HEADER_SIZE);
    std::uint8_t* pixels = buffer.data() + BMP_INFO_HEADER_SIZE;
    for (int row = 0; row < layout_.height; ++row) {
      // A top-down picture is turned bottom-up as it is copied.
      const int from = top_down_ ? layout_.height - 1 - row : row;
      std::memcpy(pixels + static_cast<std::size_t>(row) * stride,
                  picture_.bytes.data() + static_cast<std::size_t>(from) * stride, stride);
    }
    return true;
  }

  void position_at(std::int64_t milliseconds) override {
    LONGLONG target = std::max<std::int64_t>(milliseconds, 0) * UNITS_PER_MS;
    // Past the last picture there is none to decode: the last one stays.
    if (duration_units_ > 0 && target > duration_units_ - frame_units_)
      target = std::max<LONGLONG>(duration_units_ - frame_units_, 0);
    target_units_ = target;
    request(target - early_units_);
  }

  std::int64_t duration_ms() const override { return duration_units_ > 0 ? duration_units_ / UNITS_PER_MS : -1; }

 private:
  // Connects the first of the source's outputs that can give pictures in
  // a wanted depth to the grabber; the framework adds the filters between.
  bool connect_video(IBaseFilter* source, IBaseFilter* grab_filter, std::string& why) {
    ComRef<IPin> grab_in = find_pin(grab_filter, PINDIR_INPUT, true);
    ComRef<IPin> source_out = find_pin(source, PINDIR_OUTPUT, true);
    if (!grab_in || !source_out) return fail(why, "EnumPins", VFW_E_NOT_FOUND);
    HRESULT hr = E_FAIL;
    for (const GUID* subtype : WANTED_SUBTYPES) {
      AM_MEDIA_TYPE wanted{};
      wanted.majortype = MEDIATYPE_Video;
      wanted.subtype = *subtype;
      wanted.formattype = FORMAT_VideoInfo;
      if (FAILED(hr = grabber_->SetMediaType(&wanted))) return fail(why, "SetMediaType", hr);
      if (SUCCEEDED(hr = graph_->Connect(source_out.get(), grab_in.get()))) return true;
    }
    return fail(why, "Connect", hr);
  }

  // The picture's size and depth from the connected type.
  bool take_format(std::string& why) {
    AM_MEDIA_TYPE type{};
    HRESULT hr = grabber_->GetConnectedMediaType(&type);
    if (FAILED(hr)) return fail(why, "GetConnectedMediaType", hr);
    bool usable = false;
    if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.pbFormat &&
        type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
      const auto* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
      const BITMAPINFOHEADER& h = info->bmiHeader;
      const int bpp = h.biBitCount == 24 ? 3 : h.biBitCount == 32 ? 4 : 0;
      if (bpp && h.biWidth > 0 && h.biWidth <= 16384 && h.biHeight != 0 && h.biHeight >= -16384 &&
          h.biHeight <= 16384) {
        layout_ = DibLayout{static_cast<int>(h.biWidth), static_cast<int>(h.biHeight < 0 ? -h.biHeight : h.biHeight),
                            bpp};
        top_down_ = h.biHeight < 0;
        if (info->AvgTimePerFrame > 0) frame_units_ = info->AvgTimePerFrame;
        usable = true;
      }
    }
    if (type.cbFormat) CoTaskMemFree(type.pbFormat);
    if (type.pUnk) type.pUnk->Release();
    return usable || fail(why, "the connected picture type", VFW_E_INVALIDMEDIATYPE);
  }

  // Stopped while it moves, the graph has no picture in flight: a picture
  // decoded for the old position cannot arrive after the new one is asked
  // for (under wine one did, stamped against the new position). Paused
  // again, it cues the picture of the new position.
  void request(LONGLONG units) {
    LONGLONG at = units < 0 ? 0 : units;
    requested_units_ = at;
    control_->Stop();
    seeking_->SetPositions(&at, AM_SEEKING_AbsolutePositioning | AM_SEEKING_SeekToKeyFrame, nullptr,
                           AM_SEEKING_NoPositioning);
    asked_ = catcher_->count();
    control_->Pause();
  }

  // Waits for the picture of the last positioning. A picture that starts
  // after the position asked for (a framework that takes the frame at or
  // after a position, whatever the key-frame flag says) is replaced by
  // the one before it, and later positionings ask that much earlier.
  bool settle() {
    for (int attempt = 0; attempt < 2; ++attempt) {
      if (!catcher_->wait_past(asked_, PICTURE_WAIT_MS)) return false;
      OAFilterState state = State_Stopped;
      control_->GetState(STATE_WAIT_MS, &state);
      catcher_->last(picture_);
      const LONGLONG landed = requested_units_ + picture_.start;
      if (debugging())
        std::fprintf(stderr, "grab: target %lld requested %lld sample %lld (#%llu) landed %lld\n",
                     static_cast<long long>(target_units_), static_cast<long long>(requested_units_),
                     static_cast<long long>(picture_.start), static_cast<unsigned long long>(picture_.number),
                     static_cast<long long>(landed));
      if (!picture_.timed || landed <= target_units_ || requested_units_ == 0) return true;
      early_units_ = frame_units_ - 1;
      request(target_units_ - early_units_);
    }
    return true;
  }

  ComRef<ISampleGrabber> grabber_;
  PictureCatcher* catcher_ = nullptr;
  DibLayout layout_;
  bool top_down_ = false;
  LONGLONG frame_units_ = DEFAULT_FRAME_UNITS;
  LONGLONG duration_units_ = 0;
  // The position last asked for by the driver, and what was asked of the
  // graph for it.
  LONGLONG target_units_ = 0;
  LONGLONG requested_units_ = 0;
  LONGLONG early_units_ = 0;
  std::uint64_t asked_ = 0;
  PictureCatcher::Picture picture_;
};

}  // namespace

std::unique_ptr<Grabber> open_dshow_grabber(const std::string& file_name, std::string& why) {
  auto graph = std::make_unique<GrabGraph>();
  if (!graph->open(file_name, why)) return nullptr;
  return graph;
}

}  // namespace kartex
