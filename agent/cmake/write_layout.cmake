# Writes agent_layout.h: where the pieces of the agent image lie, taken from
# the symbols that the linker script exports.
# cmake -DNM=arm-none-eabi-nm -DELF=agent.elf -DOUTPUT=agent_layout.h -P write_layout.cmake

execute_process(COMMAND "${NM}" "${ELF}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${NM} ${ELF} failed: ${status}")
endif()

function(symbol name out)
  if(NOT symbols MATCHES "(^|\n)([0-9a-fA-F]+) [A-Za-z] ${name}\n")
    message(FATAL_ERROR "symbol ${name} missing from ${ELF}")
  endif()
  set(${out} "0x${CMAKE_MATCH_2}" PARENT_SCOPE)
endfunction()

function(hex value out)
  math(EXPR result "${value}" OUTPUT_FORMAT HEXADECIMAL)
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

symbol(__image_start image_start)
symbol(__splash_palette palette)
symbol(__splash_tiles tiles)
symbol(__splash_end splash_end)
symbol(__resident_load resident_load)
symbol(__resident_size resident_size)
symbol(__resident_start resident_start)
symbol(__cold_load cold_load)
symbol(__cold_size cold_size)
symbol(__cold_start cold_start)
symbol(__image_end image_end)
symbol(__state_start state_start)
symbol(__state_end state_end)

math(EXPR boot_size "${palette} - ${image_start}")
math(EXPR palette_offset "${palette} - ${image_start}")
math(EXPR tiles_offset "${tiles} - ${image_start}")
math(EXPR splash_end_offset "${splash_end} - ${image_start}")
math(EXPR resident_offset "${resident_load} - ${image_start}")
math(EXPR resident_bytes "${resident_size}")
math(EXPR cold_offset "${cold_load} - ${image_start}")
math(EXPR cold_bytes "${cold_size}")
math(EXPR image_size "${image_end} - ${image_start}")
hex(${image_start} load_address)
hex(${resident_start} resident_address)
hex(${cold_start} cold_address)
hex(${state_start} state_start)
hex(${state_end} state_end)

file(WRITE "${OUTPUT}"
"// Generated from the agent's symbols by write_layout.cmake; do not edit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kartex {

struct AgentLayout {
  static constexpr std::uint32_t load_address = ${load_address};
  static constexpr std::size_t boot_size = ${boot_size};
  static constexpr std::size_t palette_offset = ${palette_offset};
  static constexpr std::size_t tiles_offset = ${tiles_offset};
  static constexpr std::size_t splash_end_offset = ${splash_end_offset};
  static constexpr std::size_t resident_offset = ${resident_offset};
  static constexpr std::size_t resident_size = ${resident_bytes};
  static constexpr std::uint32_t resident_address = ${resident_address};
  static constexpr std::size_t cold_offset = ${cold_offset};
  static constexpr std::size_t cold_size = ${cold_bytes};
  static constexpr std::uint32_t cold_address = ${cold_address};
  static constexpr std::uint32_t state_start = ${state_start};
  static constexpr std::uint32_t state_end = ${state_end};
  static constexpr std::size_t image_size = ${image_size};
};

}  // namespace kartex
")
