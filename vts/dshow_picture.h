#pragma once
// The Sample Grabber's callback: it keeps a copy of the last picture that
// passed through the grab graph, with its time stamp, so that the driver's
// thread can wait for the picture of a new position and copy it out. The
// framework calls it on its streaming thread. Windows only.

#include <dshow.h>
#include <qedit.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace kartex {

class PictureCatcher final : public ISampleGrabberCB {
 public:
  // One reference, the creator's.
  PictureCatcher() = default;
  PictureCatcher(const PictureCatcher&) = delete;
  PictureCatcher& operator=(const PictureCatcher&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
  STDMETHODIMP BufferCB(double time, BYTE* buffer, long length) override;

  // How many pictures have arrived so far.
  std::uint64_t count();
  // Waits up to `ms` for a picture after the first `count`; true once one
  // is there.
  bool wait_past(std::uint64_t count, int ms);

  struct Picture {
    std::vector<std::uint8_t> bytes;
    // Start time in 100 ns units from the start of the last positioning's
    // segment; `timed` false when the sample carried none.
    LONGLONG start = 0;
    bool timed = false;
    std::uint64_t number = 0;  // 1 for the first picture that arrived
  };
  // The last picture that arrived, into `picture` (its bytes reused).
  void last(Picture& picture);

 private:
  ~PictureCatcher() = default;

  std::atomic<ULONG> refs_{1};
  std::mutex mutex_;
  std::condition_variable arrived_;
  Picture picture_;
};

}  // namespace kartex
