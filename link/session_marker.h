#pragma once
// The session marker: the word our agent's run leaves in a cable register
// once the agent is up and the cartridge identified. The cable keeps it as
// long as it has power, so the next run finds the agent still answering and
// skips the handshake and the upload. Read and written only here.

namespace kartex {

class CableLink;

// The marker stands: an identified agent was left running.
bool session_marked(CableLink& link);
// Left after the agent is up and the cartridge identified.
void mark_session(CableLink& link);
// Taken away when the agent goes (a program replaces it, a restart, a
// transfer cut off halfway), so that the next run brings it up again.
void clear_session_mark(CableLink& link);

}  // namespace kartex
