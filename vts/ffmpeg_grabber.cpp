// Grabs with the FFmpeg libraries: seek to the key frame at or before a
// position, decode one picture, convert it to 24-bit BGR.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <vector>

#include "vts/dib.h"
#include "vts/grabber.h"

namespace kartex {

namespace {

// The scaler writes past the end of a tightly packed row for some widths:
// its rows get room to spare, and a spare row below the last.
constexpr std::size_t SCRATCH_ALIGN = 64;
constexpr std::size_t SCRATCH_SLACK = 64;

// Packets read before a seek is given up: a key frame's picture comes out
// after a handful at most, even from a decoder that reorders.
constexpr int MAX_PACKETS_PER_PICTURE = 512;

std::string av_text(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

class FfmpegGrabber : public Grabber {
 public:
  ~FfmpegGrabber() override {
    sws_freeContext(sws_);
    av_frame_free(&frame_);
    av_packet_free(&packet_);
    avcodec_free_context(&codec_);
    avformat_close_input(&format_);
  }

  bool open(const std::string& file_name, std::string& why) {
    // The libraries' own notes would land among the tool's lines; failures
    // come back as error codes.
    av_log_set_level(AV_LOG_QUIET);
    int e = avformat_open_input(&format_, file_name.c_str(), nullptr, nullptr);
    if (e < 0) return failed(why, av_text(e));
    if ((e = avformat_find_stream_info(format_, nullptr)) < 0) return failed(why, av_text(e));
    const AVCodec* decoder = nullptr;
    stream_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (stream_ < 0 || !decoder) return failed(why, "no video stream that can be decoded");
    const AVStream* st = format_->streams[stream_];
    codec_ = avcodec_alloc_context3(decoder);
    if (!codec_ || avcodec_parameters_to_context(codec_, st->codecpar) < 0)
      return failed(why, "the video decoder cannot be set up");
    // Frame threads hold pictures back: one picture per seek must come out
    // of the packets that carry it.
    codec_->thread_type = FF_THREAD_SLICE;
    if ((e = avcodec_open2(codec_, decoder, nullptr)) < 0) return failed(why, av_text(e));
    if (codec_->width <= 0 || codec_->height <= 0) return failed(why, "the video has no picture size");
    frame_ = av_frame_alloc();
    packet_ = av_packet_alloc();
    if (!frame_ || !packet_) return failed(why, "out of memory");

    layout_ = DibLayout{codec_->width, codec_->height, 3};
    dib_ = make_dib(layout_);
    scratch_stride_ = (layout_.stride() + SCRATCH_SLACK + SCRATCH_ALIGN - 1) / SCRATCH_ALIGN * SCRATCH_ALIGN;
    scratch_.resize(scratch_stride_ * (static_cast<std::size_t>(layout_.height) + 1) + SCRATCH_ALIGN);
    // Where the cueing of an opened file leaves it: the first picture.
    position_at(0);
    if (!holding_) return failed(why, "the first picture cannot be decoded");
    return true;
  }

  std::size_t image_size() const override { return dib_.size(); }

  bool copy_to(std::span<std::uint8_t> buffer) override {
    if (!holding_ || buffer.size() < dib_.size()) return false;
    std::memcpy(buffer.data(), dib_.data(), dib_.size());
    return true;
  }

  void position_at(std::int64_t milliseconds) override {
    holding_ = false;
    const AVStream* st = format_->streams[stream_];
    std::int64_t target = av_rescale_q(milliseconds < 0 ? 0 : milliseconds, AVRational{1, 1000}, st->time_base);
    if (st->start_time != AV_NOPTS_VALUE) target += st->start_time;
    if (av_seek_frame(format_, stream_, target, AVSEEK_FLAG_BACKWARD) < 0 &&
        av_seek_frame(format_, stream_, target, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
      return;
    avcodec_flush_buffers(codec_);
    if (decode_one()) holding_ = store();
  }

  std::int64_t duration_ms() const override {
    const AVStream* st = format_->streams[stream_];
    if (st->duration != AV_NOPTS_VALUE) return av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
    if (format_->duration != AV_NOPTS_VALUE) return format_->duration / (AV_TIME_BASE / 1000);
    return -1;
  }

 private:
  static bool failed(std::string& why, const std::string& text) {
    why = text;
    return false;
  }

  // The first picture that comes out after the seek.
  bool decode_one() {
    for (int n = 0; n < MAX_PACKETS_PER_PICTURE; ++n) {
      const int e = av_read_frame(format_, packet_);
      if (e < 0) {
        // End of the file: what the decoder still holds.
        avcodec_send_packet(codec_, nullptr);
        return avcodec_receive_frame(codec_, frame_) == 0;
      }
      if (packet_->stream_index != stream_) {
        av_packet_unref(packet_);
        continue;
      }
      const int sent = avcodec_send_packet(codec_, packet_);
      av_packet_unref(packet_);
      if (sent < 0 && sent != AVERROR(EAGAIN)) continue;  // a damaged packet: try the next
      if (avcodec_receive_frame(codec_, frame_) == 0) return true;
    }
    return false;
  }

  // The decoded picture into the bitmap, through a scratch buffer whose
  // rows the scaler may overrun.
  bool store() {
    sws_ = sws_getCachedContext(sws_, frame_->width, frame_->height,
                                static_cast<AVPixelFormat>(frame_->format), layout_.width, layout_.height,
                                AV_PIX_FMT_BGR24, SWS_BILINEAR | SWS_ACCURATE_RND, nullptr, nullptr,
                                nullptr);
    if (!sws_) return false;
    std::uint8_t* base = scratch_.data();
    base += (SCRATCH_ALIGN - reinterpret_cast<std::uintptr_t>(base) % SCRATCH_ALIGN) % SCRATCH_ALIGN;
    std::uint8_t* planes[4] = {base, nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(scratch_stride_), 0, 0, 0};
    const int rows = sws_scale(sws_, frame_->data, frame_->linesize, 0, frame_->height, planes, strides);
    av_frame_unref(frame_);
    if (rows != layout_.height) return false;
    store_top_down(dib_, layout_, base, scratch_stride_);
    return true;
  }

  AVFormatContext* format_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  SwsContext* sws_ = nullptr;
  int stream_ = -1;
  DibLayout layout_;
  std::vector<std::uint8_t> dib_;
  std::vector<std::uint8_t> scratch_;
  std::size_t scratch_stride_ = 0;
  bool holding_ = false;
};

}  // namespace

std::unique_ptr<Grabber> open_ffmpeg_grabber(const std::string& file_name, std::string& why) {
  auto grabber = std::make_unique<FfmpegGrabber>();
  if (!grabber->open(file_name, why)) return nullptr;
  return grabber;
}

}  // namespace kartex
