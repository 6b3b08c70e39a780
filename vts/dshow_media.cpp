// DirectShow behind the frame source on Windows.
#include "vts/dshow_media.h"

#include "vts/dxplay.h"

namespace kartex {

// The outputs are the system's own here: the graphs pick their renderers.
MediaOpeners media_openers(const MediaOutputs&) {
  return MediaOpeners{open_dshow_playback, open_dshow_grabber};
}

}  // namespace kartex
