// Built only by the contract tests, never linked: the host may send a
// request the agent dispatches, and a call with any other code must not
// compile.
#include "link/cable_link.h"

void probe(kartex::CableLink& link) {
#ifdef KARTEX_PROBE_UNLISTED
  link.agent_request(0xFFFF0013, 0, 0, 0);  // a slot the agent leaves empty
#else
  link.agent_request(REQ_ROM_READ, ROM_BASE, 4, 0);
#endif
}
