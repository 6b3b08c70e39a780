#include "link/session_marker.h"

#include "link/cable_link.h"

namespace kartex {

bool session_marked(CableLink& link) {
  if (const std::optional<bool> seen = link.take_marker_seen()) return *seen;
  return link.reg_read(CABLE_REG_SESSION) == SESSION_MARKER;
}

void mark_session(CableLink& link) {
  link.forget_marker_seen();
  link.reg_write(CABLE_REG_SESSION, SESSION_MARKER);
}

void clear_session_mark(CableLink& link) {
  link.forget_marker_seen();
  link.reg_write(CABLE_REG_SESSION, 0);
}

}  // namespace kartex
