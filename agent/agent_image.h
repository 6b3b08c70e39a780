#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
namespace kartex {
extern const std::uint8_t AgentImage[];
extern const std::size_t AgentImageSize;
inline std::span<const std::uint8_t> agent_image() { return {AgentImage, AgentImageSize}; }
}
