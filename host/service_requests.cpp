#include "host/service_requests.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <string_view>

#include "common/output.h"
#include "host/file_host.h"
#include "host/hostio_protocol.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

constexpr std::size_t TRANSFER_BYTES = CMD_MAX_WORDS * 4u;

// Words that carry `bytes` bytes, without wrapping near 4 GiB.
std::uint64_t words_for_count(std::uint32_t bytes) { return (std::uint64_t{bytes} + 3) / 4; }

std::size_t text_length(std::span<const std::uint8_t> text) {
  const auto nul = std::find(text.begin(), text.end(), std::uint8_t{0});
  return static_cast<std::size_t>(nul - text.begin());
}

}  // namespace

RequestServer::RequestServer(CableLink& link, FileHost& files, Output& con,
                             const ServiceOptions& options)
    : link_(link), files_(files), con_(con), options_(options), data_(TRANSFER_BYTES, 0) {}

void RequestServer::serve(std::uint32_t code) {
  switch (code) {
    case SVC_PRINT: print(); break;
    case SVC_OPEN: open(); break;
    case SVC_CLOSE: close(); break;
    case SVC_READ: read(); break;
    case SVC_WRITE: write(); break;
    case SVC_SEEK: seek(); break;
    default: break;  // the idle word, or anything else: no words follow, no answer
  }
}

void RequestServer::warn(const std::string& line) {
  if (con_.mid_line) con_.err << '\n';
  con_.err << "kartex: warning: " << line << '\n' << std::flush;
}

void RequestServer::check_stop() {
  if (options_.stop && options_.stop(0)) throw Stopped{};
}

std::size_t RequestServer::read_counted(std::uint32_t words, std::span<std::uint8_t> keep) {
  std::size_t kept = 0;
  std::uint64_t left = words;
  if (left == 0) link_.read_words({});  // the (empty) transfer still goes out
  while (left > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(left, CMD_MAX_WORDS));
    link_.read_words(std::span(data_.data(), piece * 4));
    const std::size_t take = std::min(piece * 4, keep.size() - kept);
    std::copy_n(data_.begin(), take, keep.begin() + static_cast<std::ptrdiff_t>(kept));
    kept += take;
    left -= piece;
    if (left > 0) check_stop();
  }
  return kept;
}

void RequestServer::print() {
  const std::uint32_t words = link_.read_word();
  std::array<std::uint8_t, SVC_TEXT_BYTES> text{};
  const std::size_t kept = read_counted(words, text);
  if (words > SVC_TEXT_WORDS)
    warn(strprintf("print request of %u words: the text buffer holds %u; only its first %u "
                   "bytes are shown",
                   words, SVC_TEXT_WORDS, SVC_TEXT_BYTES));
  // Text without a NUL ends with the last byte sent.
  const std::size_t length = text_length(std::span(text.data(), kept));
  const std::string shown =
      shown_.feed(std::string_view(reinterpret_cast<const char*>(text.data()), length));
  if (!shown.empty()) con_.print("%s", shown.c_str());
}

void RequestServer::finish() {
  const std::string held = shown_.finish();
  if (!held.empty()) con_.print("%s", held.c_str());
}

void RequestServer::open() {
  const std::uint32_t words = link_.read_word();
  std::array<std::uint8_t, SVC_TEXT_BYTES> text{};
  const std::size_t kept = read_counted(words, text);
  const std::uint32_t mode = link_.read_word();
  const std::size_t length = text_length(std::span(text.data(), kept));
  if (words > SVC_TEXT_WORDS || length == kept) {
    // A cut path would name another file: refuse it.
    warn(words > SVC_TEXT_WORDS
             ? strprintf("open request of %u words: a path fits in %u; answered -1", words,
                         SVC_TEXT_WORDS)
             : strprintf("open request with a path of %u words without a NUL; answered -1",
                         words));
    link_.write_word(SVC_FAILED);
    return;
  }
  const std::string path(reinterpret_cast<const char*>(text.data()), length);
  const std::int32_t handle = files_.open(to_host_path(path, options_.separator), mode);
  link_.write_word(static_cast<std::uint32_t>(handle));
}

void RequestServer::close() { files_.close(static_cast<std::int32_t>(link_.read_word())); }

void RequestServer::read() {
  const auto handle = static_cast<std::int32_t>(link_.read_word());
  const std::uint32_t count = link_.read_word();
  std::int32_t got = -1;
  if (count > SVC_MAX_READ)
    warn(strprintf("read request of %u bytes: one answer carries at most %u; answered -1", count,
                   SVC_MAX_READ));
  else
    got = files_.read(handle, std::span(data_.data(), count));
  const std::size_t bytes = got > 0 ? static_cast<std::size_t>(got) : 0;
  // Bytes past the count in the last word carry nothing, not an older answer's data.
  const std::size_t padded = words_for_count(static_cast<std::uint32_t>(bytes)) * 4;
  std::fill(data_.begin() + static_cast<std::ptrdiff_t>(bytes),
            data_.begin() + static_cast<std::ptrdiff_t>(padded), 0);
  link_.write_word(static_cast<std::uint32_t>(got));
  // The data transfer goes out even when it carries no word.
  link_.write_words(std::span(data_.data(), padded));
}

void RequestServer::write() {
  const auto handle = static_cast<std::int32_t>(link_.read_word());
  const std::uint32_t count = link_.read_word();
  // A count beyond one transfer comes in several, each written as it arrives.
  std::uint64_t words_left = words_for_count(count);
  std::uint64_t bytes_left = count;
  bool written = true;
  if (words_left == 0) link_.read_words({});  // the (empty) data transfer still goes out
  while (words_left > 0) {
    const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(words_left, CMD_MAX_WORDS));
    link_.read_words(std::span(data_.data(), piece * 4));
    const auto bytes = static_cast<std::size_t>(std::min<std::uint64_t>(bytes_left, piece * 4));
    if (written) written = files_.write(handle, std::span(data_.data(), bytes));
    words_left -= piece;
    bytes_left -= bytes;
    if (words_left > 0) check_stop();
  }
}

void RequestServer::seek() {
  const auto handle = static_cast<std::int32_t>(link_.read_word());
  const auto offset = static_cast<std::int32_t>(link_.read_word());
  const std::uint32_t origin = link_.read_word();
  const std::int64_t at = files_.seek(handle, offset, origin);
  // A position that does not fit the answer word, or reads as -1, is no answer.
  const bool fits = at >= 0 && at < static_cast<std::int64_t>(SVC_FAILED);
  link_.write_word(fits ? static_cast<std::uint32_t>(at) : SVC_FAILED);
}

}  // namespace kartex
