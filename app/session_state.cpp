#include "app/session_state.h"

#include <string>

#include "common/failure.h"
#include "link/cable_link.h"
#include "link/session_marker.h"

namespace kartex {

namespace {

using S = SessionState;
using E = SessionEvent;

struct Transition {
  S from;
  E event;
  S to;
};

// Every step a session can take. A probe is asked only of a marked session;
// a restart follows only a probe that found the agent unfit.
constexpr Transition TRANSITIONS[] = {
    {S::OursCached, E::ProbedOurs, S::OursCached},
    {S::OursCached, E::ProbedForeign, S::ForeignAgent},
    {S::OursCached, E::ProbedSilent, S::SilentConsole},
    {S::ForeignAgent, E::ConsoleRestarted, S::NoAgent},
    {S::SilentConsole, E::ConsoleRestarted, S::NoAgent},
    {S::NoAgent, E::AgentIdentified, S::OursCached},
    {S::OursCached, E::AgentIdentified, S::OursCached},  // cached, or identified again after a swap
    {S::NoAgent, E::ProgramStarting, S::UserProgram},
    {S::OursCached, E::ProgramStarting, S::UserProgram},
};

}  // namespace

const char* session_state_name(SessionState state) {
  switch (state) {
    case S::NoAgent: return "no agent";
    case S::OursCached: return "ours cached";
    case S::ForeignAgent: return "foreign agent";
    case S::SilentConsole: return "silent console";
    case S::UserProgram: return "user program";
  }
  return "?";
}

std::optional<SessionState> session_next(SessionState from, SessionEvent event) {
  for (const Transition& t : TRANSITIONS)
    if (t.from == from && t.event == event) return t.to;
  return std::nullopt;
}

Session::Session(CableLink& link)
    : link_(link), state_(session_marked(link) ? S::OursCached : S::NoAgent) {}

CartInfo Session::cached_facts() {
  CartInfo cart;
  cart.save_type = static_cast<std::int32_t>(link_.reg_read(CABLE_REG_SAVE_TYPE));
  cart.rom_kind = static_cast<std::int32_t>(link_.reg_read(CABLE_REG_ROM_KIND));
  cart.rom_size = static_cast<std::int32_t>(link_.reg_read(CABLE_REG_ROM_SIZE));
  cart.erase_block = static_cast<std::int32_t>(link_.reg_read(CABLE_REG_ERASE_BLOCK));
  return cart;
}

void Session::cache_facts(const CartInfo& cart) {
  link_.reg_write(CABLE_REG_SAVE_TYPE, static_cast<std::uint32_t>(cart.save_type));
  link_.reg_write(CABLE_REG_ROM_KIND, static_cast<std::uint32_t>(cart.rom_kind));
  link_.reg_write(CABLE_REG_ROM_SIZE, static_cast<std::uint32_t>(cart.rom_size));
  link_.reg_write(CABLE_REG_ERASE_BLOCK, static_cast<std::uint32_t>(cart.erase_block));
}

bool Session::fingerprint_matches(std::uint32_t fingerprint) {
  return fingerprint == link_.reg_read(CABLE_REG_CART_FINGERPRINT);
}

void Session::keep_fingerprint(std::uint32_t fingerprint) {
  link_.reg_write(CABLE_REG_CART_FINGERPRINT, fingerprint);
}

void Session::enter(SessionEvent event) {
  const std::optional<SessionState> next = session_next(state_, event);
  if (!next)
    fail(std::string("internal: a session step that cannot happen from the state '") +
         session_state_name(state_) + "'");
  switch (event) {
    case E::AgentIdentified:
      // A session found marked keeps its marker: writing it again costs a
      // USB turn-around for nothing.
      if (state_ != S::OursCached) mark_session(link_);
      break;
    case E::ConsoleRestarted:
      clear_session_mark(link_);
      link_.link_start();
      break;
    case E::ProgramStarting:
      // The agent ends when it starts the program: the marker goes first, so
      // that whatever happens next, the next run brings the agent up again.
      if (state_ == S::OursCached) clear_session_mark(link_);
      break;
    case E::ProbedOurs:
    case E::ProbedForeign:
    case E::ProbedSilent: break;
  }
  state_ = *next;
}

}  // namespace kartex
