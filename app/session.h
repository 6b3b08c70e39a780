#pragma once
// Session bring-up: make sure a program runs on the console, learn the
// cartridge (from the agent, or from the cable's cache of an earlier run)
// and show it.

#include <cstdint>
#include <span>

#include "app/cli.h"
#include "cart/cart_info.h"

namespace kartex {

class CableLink;
class Session;
struct Output;

constexpr int UPLOAD_LENGTH_PAUSE_MS = 50;   // between the length header and its word
constexpr int UPLOAD_START_PAUSE_MS = 100;   // for the console to start the image

// Sends a program image: its length word, then the image in one transfer.
void upload_program(CableLink& link, std::span<const std::uint8_t> image);
// Hands a program image to the running agent, which loads it where an
// upload goes and restarts the console in it.
void run_program_on_agent(CableLink& link, std::span<const std::uint8_t> image);

// After the tool's own write to the ROM, whose header the cartridge's
// fingerprint covers: keeps the new fingerprint, so that the next command
// does not take the rewritten cartridge for another one.
void remember_cart_fingerprint(CableLink& link, Session& session);

// Steers `session` (which read the marker) to an agent of this build with
// the cartridge identified, or for rtc to the user's program running.
// `agent_id`: the identity written into `image` (app/agent_identity.h); an
// agent found running with another identity is replaced. 0: no check.
CartInfo session_bringup(CableLink& link, Session& session, Command command,
                         std::span<const std::uint8_t> image, Output& con,
                         std::uint32_t agent_id = 0);
// The same with a session that reads the marker first.
CartInfo session_bringup(CableLink& link, Command command, std::span<const std::uint8_t> image,
                         Output& con, std::uint32_t agent_id = 0);

}  // namespace kartex
