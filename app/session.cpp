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

// The agent found running is another build's: the marker goes, the
// handshake restarts the console, and this run uploads its own agent.
bool replace_foreign_agent(CableLink& link, std::uint32_t agent_id, Output& con) {
  if (agent_id == 0 || running_agent_identity(link) == agent_id) return false;
  con.print("The agent on the console is from another build of kartex: loading this one.\n");
  link.reg_write(REG_SESSION, 0);
  link.link_start();
  return true;
}

}  // namespace

CartInfo session_bringup(CableLink& link, Command command, std::span<const std::uint8_t> image,
                         Output& con, std::uint32_t agent_id) {
  CartInfo cart;
  const bool program_load = command == Command::RTC;
  bool cached = link.reg_read(REG_SESSION) == SESSION_MARKER;
  if (cached && !program_load && replace_foreign_agent(link, agent_id, con)) cached = false;
  if (cached) {
    // An identified agent still runs: its answers are cached in the cable.
    cart.save_type = static_cast<std::int32_t>(link.reg_read(REG_SAVE_TYPE));
    cart.rom_kind = static_cast<std::int32_t>(link.reg_read(REG_ROM_KIND));
    cart.rom_size = static_cast<std::int32_t>(link.reg_read(REG_ROM_SIZE));
    cart.erase_block = static_cast<std::int32_t>(link.reg_read(REG_ERASE_BLOCK));
    if (program_load) {
      // The agent ends when it starts the program: clear the marker first,
      // so that whatever happens next, the next run brings the agent up again.
      link.reg_write(REG_SESSION, 0);
      run_program_on_agent(link, image);
    }
  } else {
    upload_program(link, image);
    if (!program_load) {
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
    }
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
