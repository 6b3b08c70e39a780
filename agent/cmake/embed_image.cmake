# Writes the agent image as a C++ source defining kartex::AgentImage.
# cmake -DIMAGE=agent.bin -DOUTPUT=agent_image.cpp -P embed_image.cmake

file(READ "${IMAGE}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
  message(FATAL_ERROR "agent image ${IMAGE} is empty")
endif()

string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){16})" "\\1\n    " bytes "${bytes}")

file(WRITE "${OUTPUT}"
"// Generated from ${IMAGE} by embed_image.cmake; do not edit.
#include \"agent/agent_image.h\"

namespace kartex {

const std::uint8_t AgentImage[] = {
    ${bytes}
};
const std::size_t AgentImageSize = ${size};

}  // namespace kartex
")
