#include "app/session.h"

#include <algorithm>
#include <vector>

#include "app/agent_identity.h"
#include "app/session_state.h"
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

// What the agent found running answers to this build's identity.
SessionEvent probe_agent(CableLink& link, std::uint32_t agent_id) {
  const int normal = link.timeout();
  link.set_timeout(std::min(normal, AGENT_PROBE_TIMEOUT_MS));
  SessionEvent found = SessionEvent::ProbedSilent;
  try {
    found = running_agent_identity(link) == agent_id ? SessionEvent::ProbedOurs
                                                     : SessionEvent::ProbedForeign;
  } catch (const Failure& f) {
    if (f.status() == EXIT_INTERRUPTED) throw;
  }
  link.set_timeout(normal);
  return found;
}

std::uint32_t cart_fingerprint(CableLink& link) {
  std::uint32_t fingerprint[1];
  link.agent_request(REQ_CART_FINGERPRINT, 0, 0, 0, fingerprint);
  return fingerprint[0];
}

// Asks the agent what the cartridge holds and keeps the answers in the
// cable for the next runs (with our agent, the cartridge's fingerprint too).
CartInfo identify_cart(CableLink& link, Session& session, std::uint32_t agent_id) {
  CartInfo cart;
  std::uint32_t save[1];
  link.agent_request(REQ_SAVE_TYPE, 0, 0, 0, save);
  std::uint32_t info[3];
  link.agent_request(REQ_CART_INFO, 0, 0, 0, info);
  cart.save_type = static_cast<std::int32_t>(save[0]);
  cart.rom_kind = static_cast<std::int32_t>(info[0]);
  cart.rom_size = static_cast<std::int32_t>(info[1]);
  cart.erase_block = static_cast<std::int32_t>(info[2]);
  session.cache_facts(cart);
  if (agent_id != 0) session.keep_fingerprint(cart_fingerprint(link));
  return cart;
}

// A marked session whose agent is not this build's, or does not answer:
// the handshake restarts the console, which then waits for this run's upload.
void check_running_agent(CableLink& link, Session& session, Output& con, std::uint32_t agent_id) {
  session.enter(probe_agent(link, agent_id));
  switch (session.state()) {
    case SessionState::ForeignAgent:
      con.print("The agent on the console is from another build of kartex: loading this one.\n");
      break;
    case SessionState::SilentConsole:
      con.print("The console did not answer: it was switched off or restarted since the last "
                "command; loading the agent again.\n");
      break;
    default: return;
  }
  session.enter(SessionEvent::ConsoleRestarted);
}

}  // namespace

void remember_cart_fingerprint(CableLink& link, Session& session) {
  session.keep_fingerprint(cart_fingerprint(link));
}

CartInfo session_bringup(CableLink& link, Session& session, Command command,
                         std::span<const std::uint8_t> image, Output& con, std::uint32_t agent_id) {
  CartInfo cart;
  const bool program_load = command == Command::RTC;
  if (session.state() == SessionState::OursCached && !program_load && agent_id != 0)
    check_running_agent(link, session, con, agent_id);
  if (session.state() == SessionState::OursCached) {
    // An identified agent still runs: its answers are cached in the cable.
    cart = session.cached_facts();
    if (program_load) {
      session.enter(SessionEvent::ProgramStarting);
      run_program_on_agent(link, image);
    } else if (agent_id != 0 && !session.fingerprint_matches(cart_fingerprint(link))) {
      // Another cartridge went in while the console stayed on: the cached
      // facts describe the old one.
      con.print("The cartridge was changed since the last command: identifying it again.\n");
      cart = identify_cart(link, session, agent_id);
    }
  } else {
    upload_program(link, image);
    if (program_load) session.enter(SessionEvent::ProgramStarting);
    else cart = identify_cart(link, session, agent_id);
  }
  std::uint32_t variant[1];
  link.agent_request(REQ_CART_VARIANT, 0, 0, 0, variant);
  cart.variant = variant[0];
  derive_save_geometry(cart);
  if (program_load) return cart;

  session.enter(SessionEvent::AgentIdentified);
  print_cart_lines(cart, con);
  return cart;
}

CartInfo session_bringup(CableLink& link, Command command, std::span<const std::uint8_t> image,
                         Output& con, std::uint32_t agent_id) {
  Session session(link);
  return session_bringup(link, session, command, image, con, agent_id);
}

}  // namespace kartex
