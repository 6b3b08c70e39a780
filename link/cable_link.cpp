#include "link/cable_link.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ostream>
#include <thread>
#include <vector>

#include "common/failure.h"
#include "common/original_lines.h"
#include "link/session_marker.h"

namespace kartex {

namespace {

constexpr int STATUS_POLL_MS = 100;
// Polls of CABLE_REG_STATUS (about 2 s) before telling the user what we wait for.
constexpr int STATUS_POLLS_BEFORE_NOTICE = 20;
// Stale words the handshake drains from the data-in pipe before it gives up:
// far more than any transfer the cable can hold back.
constexpr int HANDSHAKE_MAX_DRAIN = 16384;

std::string hex32(std::uint32_t v) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", v);
  return text;
}

std::array<std::uint8_t, 3> transfer_header(std::uint8_t op, std::uint32_t words) {
  if (words > CMD_MAX_WORDS)
    fail("a transfer of " + std::to_string(words) + " words exceeds the cable's limit of " +
         std::to_string(CMD_MAX_WORDS) + " words");
  return {op, static_cast<std::uint8_t>(words & 0xFF), static_cast<std::uint8_t>(words >> 8)};
}

}  // namespace

void sleep_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

const char* pipe_name(Pipe pipe) {
  switch (pipe) {
    case Pipe::Command: return "command pipe";
    case Pipe::DataIn: return "data-in pipe";
    case Pipe::DataOut: return "data-out pipe";
  }
  return "pipe";
}

CableLink::CableLink(PipesOpener open, Sleeper sleep, std::ostream* notice)
    : open_(std::move(open)), sleep_(std::move(sleep)), notice_(notice) {}

Pipes& CableLink::pipes() {
  if (!pipes_) fail("internal error: the cable is used before link_start");
  return *pipes_;
}

void CableLink::check(const PipeResult& r, Pipe pipe, const char* verb, std::size_t want,
                      const std::string& op) {
  failed_[static_cast<int>(pipe)] = !r.ok;
  if (!r.ok)
    fail(op + ": " + verb + " the " + pipe_name(pipe) + " failed: " + r.error);
  if (r.moved != want)
    fail(op + ": " + verb + " the " + pipe_name(pipe) + " moved " + std::to_string(r.moved) +
         " of " + std::to_string(want) + " bytes");
}

void CableLink::reset_failed_pipes() {
  for (Pipe pipe : {Pipe::Command, Pipe::DataOut, Pipe::DataIn}) {
    if (!failed_[static_cast<int>(pipe)]) continue;
    failed_[static_cast<int>(pipe)] = false;
    reset_pipe(pipe);
  }
}

void CableLink::reset_pipe(Pipe pipe) {
  PipeResult r = pipes().reset(pipe);
  if (!r.ok) fail(std::string("resetting the ") + pipe_name(pipe) + " failed: " + r.error);
}

void CableLink::send_command(std::span<const std::uint8_t> bytes, const std::string& op) {
  check(pipes().write(Pipe::Command, bytes), Pipe::Command, "writing", bytes.size(), op);
}

void CableLink::send_data(std::span<const std::uint8_t> bytes, const std::string& op) {
  check(pipes().write(Pipe::DataOut, bytes), Pipe::DataOut, "writing", bytes.size(), op);
}

void CableLink::receive_data(std::span<std::uint8_t> bytes, const std::string& op) {
  check(pipes().read(Pipe::DataIn, bytes), Pipe::DataIn, "reading", bytes.size(), op);
}

void CableLink::read_with_header(std::span<std::uint8_t> dst, bool long_header) {
  const auto words = static_cast<std::uint32_t>(dst.size() / 4);
  if (dst.size() % 4 != 0) fail("internal error: read of a partial word");
  const std::string op = "read of " + std::to_string(words) + " words";
  auto header = transfer_header(CMD_READ, words);
  if (long_header) {
    // The cable's long read header: count, then the mode value 7; the rest
    // of the 64 bytes carries nothing and goes out as zeros.
    std::array<std::uint8_t, CMD_READ_LONG_SIZE> bytes{};
    bytes[0] = header[0];
    bytes[1] = header[1];
    bytes[2] = header[2];
    bytes[3] = CMD_READ_LONG_MODE;
    bytes[4] = 0;
    send_command(bytes, op);
  } else {
    send_command(header, op);
  }
  receive_data(dst, op);
}

void CableLink::read_words(std::span<std::uint8_t> dst) { read_with_header(dst, false); }

void CableLink::read_words_long(std::span<std::uint8_t> dst) { read_with_header(dst, true); }

void CableLink::write_words(std::span<const std::uint8_t> src) {
  const auto words = static_cast<std::uint32_t>(src.size() / 4);
  if (src.size() % 4 != 0) fail("internal error: write of a partial word");
  const std::string op = "write of " + std::to_string(words) + " words";
  send_command(transfer_header(CMD_WRITE, words), op);
  send_data(src, op);
}

std::uint32_t CableLink::read_word() {
  std::array<std::uint8_t, 4> bytes{};
  read_words(bytes);
  return get_le32(bytes.data());
}

void CableLink::write_word(std::uint32_t value) {
  std::array<std::uint8_t, 4> bytes{};
  put_le32(bytes.data(), value);
  write_words(bytes);
}

void CableLink::write_word_paced(std::uint32_t value, int pause_ms) {
  std::array<std::uint8_t, 4> bytes{};
  put_le32(bytes.data(), value);
  const std::string op = "write of one word";
  send_command(transfer_header(CMD_WRITE, 1), op);
  pause(pause_ms);
  send_data(bytes, op);
}

std::uint32_t CableLink::reg_read(std::uint8_t index) {
  const std::string op = "read of cable register " + std::to_string(index);
  const std::array<std::uint8_t, 2> cmd{CMD_REG, index};
  send_command(cmd, op);
  std::array<std::uint8_t, 4> answer{};
  receive_data(answer, op);
  return get_le32(answer.data());
}

void CableLink::reg_write(std::uint8_t index, std::uint32_t value) {
  const std::string op = "write of cable register " + std::to_string(index);
  std::array<std::uint8_t, 6> cmd{CMD_REG, static_cast<std::uint8_t>(index | CMD_REG_WRITE_FLAG)};
  put_le32(cmd.data() + 2, value);
  send_command(cmd, op);
  // The cable answers every register write with a word; leaving it unread
  // would put every later answer one word out of step.
  std::array<std::uint8_t, 4> ignored{};
  receive_data(ignored, op);
}

void CableLink::agent_request(wire::Request code, std::uint32_t a1, std::uint32_t a2,
                              std::uint32_t a3, std::span<std::uint32_t> reply) {
  std::array<std::uint8_t, CMD_REQUEST_SIZE> packet{};
  packet[0] = CMD_REQUEST;
  packet[1] = CMD_REQUEST_WORDS;
  put_le32(&packet[2], code.code());
  put_le32(&packet[6], a1);
  put_le32(&packet[10], a2);
  put_le32(&packet[14], a3);
  send_command(packet, "agent request " + hex32(code.code()));
  if (reply.empty()) return;
  std::vector<std::uint8_t> bytes(reply.size() * 4);
  read_words(bytes);
  for (std::size_t i = 0; i < reply.size(); ++i) reply[i] = get_le32(&bytes[i * 4]);
}

void CableLink::set_timeout(int ms) {
  timeout_ms_ = ms;
  if (pipes_) pipes_->set_timeout(ms);
}

void CableLink::open_pipes() {
  pipes_ = open_();
  if (!pipes_) fail_out(LINE_NO_CABLE);
  pipes_->set_timeout(timeout_ms_);
  // Each pipe starts clean, in the order the cable's driver expects.
  for (Pipe pipe : {Pipe::Command, Pipe::DataOut, Pipe::DataIn}) reset_pipe(pipe);
}

void CableLink::handshake() {
  reg_write(CABLE_REG_BOOT, BOOT_PATTERN);
  // Words left in the data-in pipe by an interrupted exchange arrive before
  // the register's answer: take one extra word per pass until it shows.
  for (int drained = 0; reg_read(CABLE_REG_BOOT) != BOOT_PATTERN; ++drained) {
    if (drained == HANDSHAKE_MAX_DRAIN)
      fail("the cable never answered the link handshake (register " + std::to_string(CABLE_REG_BOOT) +
           ")");
    std::array<std::uint8_t, 4> stale{};
    receive_data(stale, "handshake drain");
  }
  reg_write(CABLE_REG_BOOT, 0);
  // The console may still be off: wait for it as long as the user needs.
  for (int polls = 1;; ++polls) {
    std::uint32_t status = reg_read(CABLE_REG_STATUS);
    pause(STATUS_POLL_MS);
    if (stop_ && stop_()) fail_interrupted();
    if ((status & STATUS_LINK_UP) == STATUS_LINK_UP) break;
    if (polls == STATUS_POLLS_BEFORE_NOTICE && notice_)
      *notice_ << "Waiting for the console: switch it on with the cable in its link port "
                  "(Ctrl-C to give up).\n"
               << std::flush;
  }
}

void CableLink::link_start() {
  if (!opened_) {
    opened_ = true;
    open_pipes();
  }
  forget_marker_seen();  // each start reads the register afresh
  const bool marked = session_marked(*this);
  marker_seen_ = marked;
  if (!marked) handshake();
}

}  // namespace kartex
