# Installing kartex like any other tool: the binary, a manual page and bash
# completion made from the tool's own --help and --sim=help text (so that
# neither can drift from it), the helper that writes the udev rule for the
# cable's IDs, and a Debian package of them (cpack -G DEB).

include(GNUInstallDirs)

install(TARGETS kartex RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md LICENSE docs/report.md docs/report-schema.json
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

if(NOT CMAKE_CROSSCOMPILING)
  find_program(HELP2MAN help2man)
  if(NOT HELP2MAN)
    message(FATAL_ERROR "help2man not found: the manual page is made from kartex --help with it. "
                        "Install it (Debian: apt-get install help2man), or run scripts/install-deps.sh.")
  endif()
  set(KARTEX_MAN_PAGE ${CMAKE_CURRENT_BINARY_DIR}/kartex.1)
  add_custom_command(
    OUTPUT ${KARTEX_MAN_PAGE}
    COMMAND ${HELP2MAN} --no-info --no-discard-stderr --section=1
            "--version-string=${PROJECT_VERSION}"
            "--name=dump and write Game Boy Advance cartridges through a USB link cable"
            --include=${CMAKE_CURRENT_SOURCE_DIR}/cmake/kartex.h2m
            --output=${KARTEX_MAN_PAGE} $<TARGET_FILE:kartex>
    DEPENDS kartex ${CMAKE_CURRENT_SOURCE_DIR}/cmake/kartex.h2m
    COMMENT "Manual page from kartex --help"
    VERBATIM)
  set(KARTEX_COMPLETION ${CMAKE_CURRENT_BINARY_DIR}/kartex.bash-completion)
  add_custom_command(
    OUTPUT ${KARTEX_COMPLETION}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/cmake/bash_completion.sh $<TARGET_FILE:kartex> ${KARTEX_COMPLETION}
    DEPENDS kartex ${CMAKE_CURRENT_SOURCE_DIR}/cmake/bash_completion.sh
    COMMENT "Bash completion from kartex --help and --sim=help"
    VERBATIM)
  add_custom_target(kartex_man_and_completion ALL DEPENDS ${KARTEX_MAN_PAGE} ${KARTEX_COMPLETION})

  install(FILES ${KARTEX_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # Where bash-completion looks for a command's completion by its name.
  install(FILES ${KARTEX_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
          RENAME kartex)
  # The cable has no IDs of its own to match: the rule is written for the
  # ones lsusb shows.
  install(PROGRAMS scripts/install-udev-rule.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/kartex)
endif()

set(CPACK_PACKAGE_NAME kartex)
set(CPACK_PACKAGE_VENDOR "kartex")
set(CPACK_PACKAGE_CONTACT "kartex developers <kartex@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "dump and write Game Boy Advance cartridges through a USB link cable")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY kartex)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The libraries the binary was linked with, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
