#pragma once
// What the console runs between two commands, as the cable remembers it
// (its marker and its registers), and the steps from one state to another.
// A powered cable and console outlive the tool: the next run starts from
// whatever the last one left.

#include <cstdint>
#include <optional>

#include "cart/cart_info.h"

namespace kartex {

class CableLink;

enum class SessionState {
  NoAgent,        // no marker: the console waits for an upload
  OursCached,     // an agent of this build runs; the cable holds the cartridge's facts
  ForeignAgent,   // the marker stands, but the agent is another build's
  SilentConsole,  // the marker stands, but nothing answers: switched off or reset since
  UserProgram,    // a user's program replaced the agent
};

enum class SessionEvent {
  ProbedOurs,        // the running agent answered this build's identity
  ProbedForeign,     // ... another identity
  ProbedSilent,      // ... nothing within the probe's time
  ConsoleRestarted,  // marker cleared, the handshake restarted the console
  AgentIdentified,   // our agent up and the cartridge's facts cached: marker set
  ProgramStarting,   // a user's program is about to take the console: marker cleared
};

const char* session_state_name(SessionState state);

// The state an event leads to; none for an event that cannot happen in
// that state (a program started on a foreign agent, facts cached from a
// silent console).
std::optional<SessionState> session_next(SessionState from, SessionEvent event);

// One run's view of the session. Owns the marker and the cached facts; each
// step that changes what the console runs goes through `enter`.
class Session {
 public:
  // Reads the marker: a marked session is taken as ours until a probe says
  // otherwise.
  explicit Session(CableLink& link);

  SessionState state() const { return state_; }

  // The cartridge's facts as an earlier run cached them.
  CartInfo cached_facts();
  void cache_facts(const CartInfo& cart);
  // The fingerprint kept with the facts; our agent's answer is compared
  // with it to notice another cartridge.
  bool fingerprint_matches(std::uint32_t fingerprint);
  void keep_fingerprint(std::uint32_t fingerprint);

  // The transition; the marker written as it demands. An event the state
  // does not allow is a fault of the tool.
  void enter(SessionEvent event);

 private:
  CableLink& link_;
  SessionState state_;
};

}  // namespace kartex
