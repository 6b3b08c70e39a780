#include "vts/dshow_picture.h"

#include <chrono>

namespace kartex {

STDMETHODIMP PictureCatcher::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
    *out = static_cast<ISampleGrabberCB*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PictureCatcher::AddRef() { return ++refs_; }

STDMETHODIMP_(ULONG) PictureCatcher::Release() {
  const ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

STDMETHODIMP PictureCatcher::SampleCB(double, IMediaSample* sample) {
  if (!sample) return S_OK;
  BYTE* data = nullptr;
  const long length = sample->GetActualDataLength();
  if (FAILED(sample->GetPointer(&data)) || !data || length <= 0) return S_OK;
  REFERENCE_TIME start = 0, end = 0;
  const bool timed = SUCCEEDED(sample->GetTime(&start, &end));
  {
    std::lock_guard<std::mutex> lock(mutex_);
    picture_.bytes.assign(data, data + length);
    picture_.start = timed ? start : 0;
    picture_.timed = timed;
    ++picture_.number;
  }
  arrived_.notify_all();
  return S_OK;
}

// Only SampleCB is asked for.
STDMETHODIMP PictureCatcher::BufferCB(double, BYTE*, long) { return E_NOTIMPL; }

std::uint64_t PictureCatcher::count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return picture_.number;
}

bool PictureCatcher::wait_past(std::uint64_t count, int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return picture_.number > count; });
}

void PictureCatcher::last(Picture& picture) {
  std::lock_guard<std::mutex> lock(mutex_);
  picture.bytes.assign(picture_.bytes.begin(), picture_.bytes.end());
  picture.start = picture_.start;
  picture.timed = picture_.timed;
  picture.number = picture_.number;
}

}  // namespace kartex
