// The session's states and steps: which step each state allows, and what
// each step leaves in the cable's marker register, so that a run never
// takes another build's agent, a silent console or a user's program for
// its own cached agent.

#include <gtest/gtest.h>

#include <optional>

#include "app/session_state.h"
#include "common/failure.h"
#include "tests/support/scripted_cable.h"

namespace kartex::test {
namespace {

using S = SessionState;
using E = SessionEvent;

constexpr S STATES[] = {S::NoAgent, S::OursCached, S::ForeignAgent, S::SilentConsole,
                        S::UserProgram};
constexpr E EVENTS[] = {E::ProbedOurs,      E::ProbedForeign,   E::ProbedSilent, E::ConsoleRestarted,
                        E::AgentIdentified, E::ProgramStarting};

TEST(SessionState, EachStateAllowsOnlyItsSteps) {
  // Written out as the console behaves; every pair not listed is refused.
  struct Case {
    S from;
    E event;
    S to;
  };
  const Case allowed[] = {
      // A marked session is probed: this build's agent stays, any other
      // answer (or none) is not an agent to reuse.
      {S::OursCached, E::ProbedOurs, S::OursCached},
      {S::OursCached, E::ProbedForeign, S::ForeignAgent},
      {S::OursCached, E::ProbedSilent, S::SilentConsole},
      // Only a restart leaves a foreign agent or a silent console.
      {S::ForeignAgent, E::ConsoleRestarted, S::NoAgent},
      {S::SilentConsole, E::ConsoleRestarted, S::NoAgent},
      // Facts are cached after an upload, or again after a cartridge swap.
      {S::NoAgent, E::AgentIdentified, S::OursCached},
      {S::OursCached, E::AgentIdentified, S::OursCached},
      // A program replaces the agent we uploaded or the one we found.
      {S::NoAgent, E::ProgramStarting, S::UserProgram},
      {S::OursCached, E::ProgramStarting, S::UserProgram},
  };
  for (S from : STATES) {
    for (E event : EVENTS) {
      std::optional<S> expected;
      for (const Case& c : allowed)
        if (c.from == from && c.event == event) expected = c.to;
      SCOPED_TRACE(std::string(session_state_name(from)) + ", event " +
                   std::to_string(static_cast<int>(event)));
      EXPECT_EQ(session_next(from, event), expected);
    }
  }
}

// A scripted cable whose marker register reads `marker`.
struct OnWire {
  ScriptedLink s;
  explicit OnWire(std::uint32_t marker) {
    ScriptedCable& c = *s.cable;
    c.open().reg_read(1, marker);
    // Without the marker word the link starts with the handshake.
    if (marker != 0x12345678)
      c.reg_write(2, 0xFEDCBA98).reg_read(2, 0xFEDCBA98).reg_write(2, 0).reg_read(0, 3).sleep(100);
    s.link.link_start();
  }
};

TEST(SessionState, StepsWriteTheMarkerAndRefuseAReusedAgent) {
  struct Case {
    const char* name;
    std::uint32_t marker;           // what the register holds at the start
    std::vector<E> steps;           // taken in turn
    bool refused_last;              // the last step must be refused
    S end;
  };
  const Case cases[] = {
      {"a fresh console: identified, marked", 0, {E::AgentIdentified}, false, S::OursCached},
      {"ours probed: stays cached, its marker kept", 0x12345678, {E::ProbedOurs, E::AgentIdentified},
       false, S::OursCached},
      {"another build's agent: not reused as cached", 0x12345678,
       {E::ProbedForeign, E::AgentIdentified}, true, S::ForeignAgent},
      {"a silent console: no program handed to it", 0x12345678,
       {E::ProbedSilent, E::ProgramStarting}, true, S::SilentConsole},
      {"another build's agent: restarted, then ours identified", 0x12345678,
       {E::ProbedForeign, E::ConsoleRestarted, E::AgentIdentified}, false, S::OursCached},
      {"a program on our cached agent: the marker goes first", 0x12345678, {E::ProgramStarting},
       false, S::UserProgram},
      {"a program after an upload: no marker to clear", 0, {E::ProgramStarting}, false,
       S::UserProgram},
      {"a user's program is no agent to probe", 0, {E::ProgramStarting, E::ProbedOurs}, true,
       S::UserProgram},
      {"a wrong marker word is no session", 0x12345679, {E::ProbedOurs}, true, S::NoAgent},
  };
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.name);
    OnWire w(tc.marker);
    ScriptedCable& c = *w.s.cable;
    // The constructor takes the marker that link_start read: no second read.
    S state = tc.marker == 0x12345678 ? S::OursCached : S::NoAgent;
    for (std::size_t i = 0; i < tc.steps.size(); ++i) {
      const bool last = i + 1 == tc.steps.size();
      if (last && tc.refused_last) break;
      const E e = tc.steps[i];
      // A session found marked is not marked again.
      if (e == E::AgentIdentified && state != S::OursCached) c.reg_write(1, 0x12345678);
      if (e == E::ConsoleRestarted) c.reg_write(1, 0).handshake();
      if (e == E::ProgramStarting && state == S::OursCached) c.reg_write(1, 0);
      state = *session_next(state, e);
    }
    Session session(w.s.link);
    for (std::size_t i = 0; i < tc.steps.size(); ++i) {
      const bool last = i + 1 == tc.steps.size();
      if (last && tc.refused_last) {
        EXPECT_THROW(session.enter(tc.steps[i]), Failure);
      } else {
        session.enter(tc.steps[i]);
      }
    }
    EXPECT_EQ(session.state(), tc.end);
    // A refused step moved nothing on the wire.
    EXPECT_TRUE(c.done()) << c.left() << " steps not taken";
  }
}

TEST(SessionState, CachedFactsGoToTheirRegistersAndComeBack) {
  OnWire w(0x12345678);
  ScriptedCable& c = *w.s.cable;
  c.reg_write(3, 6).reg_write(4, 9).reg_write(5, 0x2000000).reg_write(6, 0x40000);
  c.reg_read(3, 6).reg_read(4, 9).reg_read(5, 0x2000000).reg_read(6, 0x40000);
  c.reg_write(7, 0xCAFE0001).reg_read(7, 0xCAFE0001).reg_read(7, 0xCAFE0001);
  Session session(w.s.link);
  CartInfo cart;
  cart.save_type = 6;
  cart.rom_kind = 9;
  cart.rom_size = 0x2000000;
  cart.erase_block = 0x40000;
  session.cache_facts(cart);
  const CartInfo back = session.cached_facts();
  EXPECT_EQ(back.save_type, 6);
  EXPECT_EQ(back.rom_kind, 9);
  EXPECT_EQ(back.rom_size, 0x2000000);
  EXPECT_EQ(back.erase_block, 0x40000);
  session.keep_fingerprint(0xCAFE0001);
  EXPECT_TRUE(session.fingerprint_matches(0xCAFE0001));
  // Another cartridge's fingerprint is not the cached one's.
  EXPECT_FALSE(session.fingerprint_matches(0xCAFE0002));
  EXPECT_TRUE(c.done()) << c.left() << " steps not taken";
}

}  // namespace
}  // namespace kartex::test
