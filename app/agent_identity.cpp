#include "app/agent_identity.h"

#include "agent/agent_image.h"
#include "agent/agent_layout.h"
#include "common/digest.h"
#include "link/cable_link.h"

namespace kartex {

namespace {

// Where the identity word lies in the image: the resident stage is copied
// to IWRAM_BASE, so AGENT_ID_ADDR is this far into its copy in the image.
constexpr std::size_t ID_OFFSET = AgentLayout::resident_offset + (AGENT_ID_ADDR - IWRAM_BASE);

}  // namespace

std::uint32_t agent_identity() {
  static const std::uint32_t id = [] {
    const std::uint32_t crc = crc32_of(agent_image());
    return crc == 0 ? 1u : crc;  // 0 is what a cleared word reads
  }();
  return id;
}

std::vector<std::uint8_t> agent_upload_image() {
  std::vector<std::uint8_t> image(agent_image().begin(), agent_image().end());
  put_le32(&image.at(ID_OFFSET), agent_identity());
  return image;
}

std::uint32_t running_agent_identity(CableLink& link) {
  std::uint32_t id[1] = {};
  link.agent_request(REQ_MEM_READ, AGENT_ID_ADDR, sizeof id, 0, id);
  return id[0];
}

}  // namespace kartex
