#include "vts/vts_play.h"

#include <new>
#include <thread>
#include <vector>

#include "common/output.h"
#include "vts/console_memory.h"
#include "vts/cube_palette.h"
#include "vts/frame_convert.h"
#include "vts/frame_send.h"
#include "vts/gba_video.h"
#include "vts/stream_stats.h"
#include "common/original_lines.h"

namespace kartex {

namespace {

constexpr std::int64_t SEEK_SHORT_MS = 5000;   // Right, Left
constexpr std::int64_t SEEK_LONG_MS = 15000;   // R, L
constexpr int END_WAIT_MS = 1000;              // around closing the source
// The keypad read: a request record and the word read.
constexpr std::int64_t KEY_READ_WORDS = REQUEST_WORDS + 1;

// Both pages at once: 0 is the palette's black.
void clear_pages(CableLink& link, Output& con, const std::vector<std::uint8_t>& zeros) {
  con.print("%s", LINE_BG_CLEAR);
  gba_write_block(link, MEM_VRAM_PAGE0, zeros);
}

// The start of the next whole second, so that the figures count whole
// seconds from a boundary.
std::time_t next_wall_second(const VtsEnv& env) {
  const std::time_t first = env.clock();
  std::time_t now = first;
  while ((now = env.clock()) == first) std::this_thread::yield();
  return now;
}

// The seconds the figures count: the hardware clock's (exact, so no
// boundary to wait for), or the wall clock's from the next whole second.
struct StreamClock {
  const VtsEnv& env;
  std::int64_t start_ms = 0;
  std::time_t start_second = 0;

  void start() {
    if (env.hardware_ms) start_ms = env.hardware_ms();
    else start_second = next_wall_second(env);
  }
  std::int64_t elapsed_seconds() const {
    if (env.hardware_ms) return (env.hardware_ms() - start_ms) / 1000;
    return static_cast<std::int64_t>(env.clock() - start_second);
  }
};

bool stop_asked(const Output& con) { return con.stop_requested && con.stop_requested(); }

}  // namespace

int poll_keys(CableLink& link, FrameSource& source, bool* seeked) {
  // A key reads 0 while it is held.
  const std::uint16_t held = static_cast<std::uint16_t>(~gba_read_word(link, REG_KEYINPUT) & KEY_MASK);
  switch (held) {
    case KEY_A: source.dx_full_screen(); break;
    case KEY_B: return KEYS_STOP;
    case KEY_START: source.dx_play_state(PlayMode::Toggle); break;
    case KEY_RIGHT: source.dx_seek(SEEK_SHORT_MS); break;
    case KEY_LEFT: source.dx_seek(-SEEK_SHORT_MS); break;
    case KEY_R: source.dx_seek(SEEK_LONG_MS); break;
    case KEY_L: source.dx_seek(-SEEK_LONG_MS); break;
    default: break;  // none, Select, Up, Down, or several together
  }
  if (seeked && (held == KEY_RIGHT || held == KEY_LEFT || held == KEY_R || held == KEY_L)) *seeked = true;
  return KEYS_GO;
}

int vts_play(CableLink& link, const std::string& file_name, FrameSource& source, Output& con,
             const VtsEnv& env) {
  std::vector<std::uint8_t> zeros;
  try {
    zeros.assign(VRAM_CLEAR_BYTES, 0);
  } catch (const std::bad_alloc&) {
    con.print("%s", LINE_CLEAR_BUF_FAILED);
    return -1;
  }
  // Only the backdrop shows while the palette and the pages change.
  con.print("%s", LINE_BG_OFF);
  gba_write_reg(link, REG_DISPCNT, DISPLAY_OFF);
  upload_palette(link, con);
  clear_pages(link, con, zeros);
  con.print("%s", LINE_BG_MODE_4);
  gba_write_reg(link, REG_DISPCNT, SHOW_PAGE1);

  if (source.dx_open(file_name) != 1) {
    con.print("%s", LINE_DISPLAY_ERROR);
    return -1;
  }
  const std::int32_t image_size = source.dx_image_size();
  if (image_size == 0) {
    con.print("%s", LINE_DIB_SIZE_ERROR);
    return -1;
  }
  std::vector<std::uint8_t> dib;
  try {
    dib.assign(static_cast<std::size_t>(image_size), 0);
  } catch (const std::bad_alloc&) {
    con.print("%s", LINE_VIDEOBUF_FAILED);
    return -1;
  }

  try {
    StreamClock clock{env};
    clock.start();
    std::int64_t frames = 0, link_words = 0;
    ConsoleFrame page{};
    FrameFormat format;
    FrameSender sender(env.plain_video);
    // No pacing: the link sets the rate, the playback position what each
    // frame shows. The page written is never the one shown, and the
    // display switches only once a page is whole. After a seek the picture
    // has nothing in common with the pages: it goes whole.
    // Ctrl-C is looked at every frame and ends the stream as B does.
    for (;;) {
      std::this_thread::yield();
      if (stop_asked(con)) break;
      bool seeked = false;
      if (poll_keys(link, source, &seeked) != KEYS_GO) break;
      link_words += KEY_READ_WORDS;
      source.dx_grab_frame(dib);
      convert_frame(dib, page, format, con);
      link_words += sender.send(link, frames % 2 == 0 ? 0 : 1, page, seeked);
      ++frames;
    }

    con.print("%s", stream_stats(frames, clock.elapsed_seconds()).c_str());
    con.print("%s", link_words_line(frames, link_words).c_str());
    dib.clear();
    dib.shrink_to_fit();
    source.dx_play_state(PlayMode::Pause);
    env.sleep(END_WAIT_MS);
    source.dx_close();
    env.sleep(END_WAIT_MS);
    // The display keeps mode 4 with background 2: a black screen.
    clear_pages(link, con, zeros);
  } catch (const Failure&) {
    // A link that failed carries no more frames: the player goes too.
    source.dx_close();
    throw;
  }
  return 0;
}

}  // namespace kartex
