# Console programs cross-compiled with arm-none-eabi-gcc: objects, a linker
# script run through the C preprocessor (so that it shares addresses with
# the C headers), the ELF and its raw binary image.

find_program(ARM_EABI_GCC arm-none-eabi-gcc)
if(NOT ARM_EABI_GCC)
  message(FATAL_ERROR "arm-none-eabi-gcc not found: the console programs cannot be built. "
                      "Install it (Debian: apt-get install gcc-arm-none-eabi) or set ARM_EABI_GCC.")
endif()
get_filename_component(ARM_EABI_BIN "${ARM_EABI_GCC}" DIRECTORY)
find_program(ARM_EABI_OBJCOPY arm-none-eabi-objcopy HINTS "${ARM_EABI_BIN}" REQUIRED)
find_program(ARM_EABI_NM arm-none-eabi-nm HINTS "${ARM_EABI_BIN}" REQUIRED)

# kartex_arm_program(NAME name LABEL text CPU_FLAGS flags...
#                    LINKER_SCRIPT file SOURCES files... HEADERS files...
#                    [SMALL_SOURCES files...]
#                    [ASM_INCLUDE dir] [ASM_DEPENDS files...]
#                    OUT_ELF var OUT_BIN var BIN_NAME file)
# Paths are relative to the calling folder; every object depends on HEADERS,
# assembly sources also on ASM_DEPENDS (files they .incbin from ASM_INCLUDE).
# SMALL_SOURCES (a subset of SOURCES) are optimised for size: code that runs
# once per command, where space in a small memory counts more than cycles.
function(kartex_arm_program)
  cmake_parse_arguments(P "" "NAME;LABEL;LINKER_SCRIPT;ASM_INCLUDE;OUT_ELF;OUT_BIN;BIN_NAME"
                        "CPU_FLAGS;SOURCES;SMALL_SOURCES;HEADERS;ASM_DEPENDS" ${ARGN})
  set(objdir "${CMAKE_CURRENT_BINARY_DIR}/obj")
  file(MAKE_DIRECTORY "${objdir}")
  set(flags ${P_CPU_FLAGS} -ffreestanding -nostdlib -g -Wall -Wextra -Werror -fno-common
            -fno-tree-loop-distribute-patterns "-I${PROJECT_SOURCE_DIR}")
  set(objects "")
  foreach(source IN LISTS P_SOURCES)
    get_filename_component(name "${source}" NAME)
    get_filename_component(ext "${source}" LAST_EXT)
    set(object "${objdir}/${name}.o")
    set(depends "${source}" ${P_HEADERS})
    if(source IN_LIST P_SMALL_SOURCES)
      set(opt_flags -Os)
    else()
      set(opt_flags -O2)
    endif()
    if(ext STREQUAL ".c")
      set(kind_flags -std=c11)
    else()
      set(kind_flags -Wa,--fatal-warnings)
      if(P_ASM_INCLUDE)
        list(APPEND kind_flags "-Wa,-I${P_ASM_INCLUDE}")
      endif()
      list(APPEND depends ${P_ASM_DEPENDS})
    endif()
    add_custom_command(
      OUTPUT "${object}"
      COMMAND "${ARM_EABI_GCC}" ${flags} ${opt_flags} ${kind_flags} -MMD -MF "${object}.d" -MT "${object}"
              -c "${CMAKE_CURRENT_SOURCE_DIR}/${source}" -o "${object}"
      DEPENDS ${depends}
      DEPFILE "${object}.d"
      COMMENT "${P_LABEL}: compiling ${source}"
      VERBATIM)
    list(APPEND objects "${object}")
  endforeach()

  get_filename_component(ld_name "${P_LINKER_SCRIPT}" NAME)
  set(ld "${CMAKE_CURRENT_BINARY_DIR}/${ld_name}")
  add_custom_command(
    OUTPUT "${ld}"
    COMMAND "${ARM_EABI_GCC}" -E -P -x c "-I${PROJECT_SOURCE_DIR}" -MMD -MF "${ld}.d" -MT "${ld}"
            "${CMAKE_CURRENT_SOURCE_DIR}/${P_LINKER_SCRIPT}" -o "${ld}"
    DEPENDS "${P_LINKER_SCRIPT}" ${P_HEADERS}
    DEPFILE "${ld}.d"
    COMMENT "${P_LABEL}: preprocessing the linker script"
    VERBATIM)

  set(elf "${CMAKE_CURRENT_BINARY_DIR}/${P_NAME}.elf")
  set(bin "${CMAKE_CURRENT_BINARY_DIR}/${P_BIN_NAME}")
  add_custom_command(
    OUTPUT "${elf}"
    COMMAND "${ARM_EABI_GCC}" ${P_CPU_FLAGS} -nostdlib -T "${ld}"
            -Wl,--no-warn-rwx-segments -Wl,--fatal-warnings
            "-Wl,-Map=${CMAKE_CURRENT_BINARY_DIR}/${P_NAME}.map"
            ${objects} -lgcc -o "${elf}"
    DEPENDS ${objects} "${ld}"
    COMMENT "${P_LABEL}: linking ${P_NAME}.elf"
    VERBATIM)
  add_custom_command(
    OUTPUT "${bin}"
    COMMAND "${ARM_EABI_OBJCOPY}" -O binary "${elf}" "${bin}"
    DEPENDS "${elf}"
    COMMENT "${P_LABEL}: ${P_BIN_NAME}"
    VERBATIM)
  set(${P_OUT_ELF} "${elf}" PARENT_SCOPE)
  set(${P_OUT_BIN} "${bin}" PARENT_SCOPE)
endfunction()
