#include "app/session.h"

#include <algorithm>
#include <vector>

#include "app/agent_identity.h"
#include "common/output.h"
#include "link/cable_link.h"
#include "common/failure.h"

namespace kartex {

namespace {

// The image as whole words, its last word filled up with zero bytes.
std::vector<std::uint8_t> padded_image(std::span<const std::uint8_t> image) {
  if (image.size() > CMD_MAX_WORDS * 4u)
    fail(strprintf("a program of %zu bytes does not fit one upload (at most %u bytes)",
                   image.size(), CMD_MAX_WORDS * 4u));
  std::vector<std::uint8_t> padded(words_for(static_cast<std::uint32_t>(image.size())) * 4, 0);
  std::copy(image.begin(), image.end(), padded.begin());
  return padded;
}

}  // namespace

void upload_program(CableLink& link, std::span<const std::uint8_t> image) {
  const std::vector<std::uint8_t> padded = padded_image(image);
  link.write_word_paced(static_cast<std::uint32_t>(image.size()), UPLOAD_LENGTH_PAUSE_MS);
  link.write_words(padded);
  // Nothing acknowledges the upload; the console needs this long to start it.
  link.pause(UPLOAD_START_PAUSE_MS);
}

void run_program_on_agent(CableLink& link, std::span<const std::uint8_t> image) {
  const std::vector<std::uint8_t> padded = padded_image(image);
  link.agent_request(REQ_RUN_PROGRAM, static_cast<std::uint32_t>(image.size()), 0, 0);
  link.write_words(padded);
  // Nothing acknowledges the start either; give the program the same time.
  link.pause(UPLOAD_START_PAUSE_MS);
}

namespace {

// How long the agent found running gets to answer its identity: it answers
// at once, so a silent console is noticed without the full transfer timeout.
constexpr int AGENT_PROBE_TIMEOUT_MS = 500;

enum class RunningAgent { Ours, Foreign, Silent };

RunningAgent probe_agent(CableLink& link, std::uint32_t agent_id) {
  const int normal = link.timeout();
  link.set_timeout(std::min(normal, AGENT_PROBE_TIMEOUT_MS));
  RunningAgent found = RunningAgent::Silent;
  try {
    found = running_agent_identity(link) == agent_id ? RunningAgent::Ours : RunningAgent::Foreign;
  } catch (const Failure& f) {
    if (f.status() == EXIT_INTERRUPTED) throw;
  }
  link.set_timeout(normal);
  return found;
}

// The marker goes and the handshake restarts the console, which then
// waits for this run's upload.
void restart_console(CableLink& link, Output& con, const char* why) {
  con.print("%s\n", why);
  link.reg_write(REG_SESSION, 0);
  link.link_start();
}

std::uint32_t cart_fingerprint(CableLink& link) {
  std::uint32_t fingerprint[1];
  link.agent_request(REQ_CART_FINGERPRINT, 0, 0, 0, fingerprint);
  return fingerprint[0];
}

// Asks the agent what the cartridge holds and keeps the answers in the
// cable for the next runs (with our agent, the cartridge's fingerprint too).
CartInfo identify_cart(CableLink& link, std::uint32_t agent_id) {
  CartInfo cart;
  std::uint32_t save[1];
  link.agent_request(REQ_SAVE_TYPE, 0, 0, 0, save);
  std::uint32_t info[3];
  link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
  cart.save_type = static_cast<std::int32_t>(save[0]);
  cart.rom_kind = static_cast<std::int32_t>(info[0]);
  cart.rom_size = static_cast<std::int32_t>(info[1]);
  cart.erase_block = static_cast<std::int32_t>(info[2]);
  link.reg_write(REG_SAVE_TYPE, save[0]);
  link.reg_write(REG_ROM_KIND, info[0]);
  link.reg_write(REG_ROM_SIZE, info[1]);
  link.reg_write(REG_ERASE_BLOCK, info[2]);
  if (agent_id != 0) link.reg_write(REG_CART_FINGERPRINT, cart_fingerprint(link));
  return cart;
}

CartInfo cached_cart(CableLink& link) {
  CartInfo cart;
  cart.save_type = static_cast<std::int32_t>(link.reg_read(REG_SAVE_TYPE));
  cart.rom_kind = static_cast<std::int32_t>(link.reg_read(REG_ROM_KIND));
  cart.rom_size = static_cast<std::int32_t>(link.reg_read(REG_ROM_SIZE));
  cart.erase_block = static_cast<std::int32_t>(link.reg_read(REG_ERASE_BLOCK));
  return cart;
}

}  // namespace

void remember_cart_fingerprint(CableLink& link) {
  link.reg_write(REG_CART_FINGERPRINT, cart_fingerprint(link));
}

CartInfo session_bringup(CableLink& link, Command command, std::span<const std::uint8_t> image,
                         Output& con, std::uint32_t agent_id) {
  CartInfo cart;
  const bool program_load = command == Command::RTC;
  bool cached = link.reg_read(REG_SESSION) == SESSION_MARKER;
  if (cached && !program_load && agent_id != 0) {
    switch (probe_agent(link, agent_id)) {
      case RunningAgent::Ours: break;
      case RunningAgent::Foreign:
        restart_console(link, con,
                        "The agent on the console is from another build of kartex: loading this one.");
        cached = false;
        break;
      case RunningAgent::Silent:
        restart_console(link, con,
                        "The console did not answer: it was switched off or restarted since the last "
                        "command; loading the agent again.");
        cached = false;
        break;
    }
  }
  if (cached) {
    // An identified agent still runs: its answers are cached in the cable.
    cart = cached_cart(link);
    if (program_load) {
      // The agent ends when it starts the program: clear the marker first,
      // so that whatever happens next, the next run brings the agent up again.
      link.reg_write(REG_SESSION, 0);
      run_program_on_agent(link, image);
    } else if (agent_id != 0 && cart_fingerprint(link) != link.reg_read(REG_CART_FINGERPRINT)) {
      // Another cartridge went in while the console stayed on: the cached
      // facts describe the old one.
      con.print("The cartridge was changed since the last command: identifying it again.\n");
      cart = identify_cart(link, agent_id);
    }
  } else {
    upload_program(link, image);
    if (!program_load) cart = identify_cart(link, agent_id);
  }
  std::uint32_t variant[1];
  link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
  cart.variant = variant[0];
  derive_save_geometry(cart);
  if (program_load) return cart;

  link.reg_write(REG_SESSION, SESSION_MARKER);
  print_cart_lines(cart, con);
  return cart;
}

}  // namespace kartex
