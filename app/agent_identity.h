#pragma once
// Which agent runs on the console. The tool writes the identity of its own
// agent image into the image before the upload; a later run reads that word
// back from the console, so that an agent left running by another build of
// the tool, which may not know every request this one sends, is replaced.

#include <cstdint>
#include <vector>

namespace kartex {

class CableLink;

// The identity of the embedded agent image: its CRC-32, never 0.
std::uint32_t agent_identity();

// The embedded image with its identity word filled in, ready to upload.
std::vector<std::uint8_t> agent_upload_image();

// The identity word of the agent running now (an older agent answers with
// whatever its code holds there).
std::uint32_t running_agent_identity(CableLink& link);

}  // namespace kartex
