# Install layout of the native build, as the Debian packages take it:
#   bin/                         corvane, hxhost, tarnwick-squid, pellumin-config,
#                                pellumin-update-lists
#   lib/<multiarch>/             libcorvane.so.1 (SONAME from the major version),
#                                libcorvane.so, pkgconfig/corvane.pc,
#                                cmake/Corvane/ (find_package(Corvane))
#   lib/pellumin/                libtarnwick.so, the plug-in (private: only the
#                                programs load it, by path)
#   include/                     corvane.h
#   share/pellumin/              the sample list, compiled and as text
#   share/doc/pellumin/          the documentation
#   share/man/man1/              a page for every command, from its --help text
#   share/bash-completion/       completion for corvane
# Components: "runtime" (the programs and the plug-in), "library"
# (libcorvane.so.N), "development" (header, namelink, pkg-config, CMake).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# lib/pellumin, not lib/<multiarch>/pellumin: the unit files and the Squid
# fragment name one path on every architecture.
set(PELLUMIN_PRIVATE_LIBDIR "lib/pellumin")
set(PELLUMIN_SYSCONFDIR "/etc/pellumin" CACHE PATH "Where the packaged settings file lives")
set(PELLUMIN_STATEDIR "/var/lib/pellumin" CACHE PATH "Where the packaged lists live")

# The engine's ABI is its C interface; the SONAME changes with the major
# version only.
set_target_properties(corvane PROPERTIES
  VERSION ${PROJECT_VERSION}
  SOVERSION ${PROJECT_VERSION_MAJOR})

install(TARGETS corvane
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library NAMELINK_SKIP)
install(TARGETS corvane
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development NAMELINK_ONLY)
install(FILES ${PROJECT_SOURCE_DIR}/engine/corvane.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)

configure_file(${PROJECT_SOURCE_DIR}/packaging/corvane.pc.in
               ${PROJECT_BINARY_DIR}/packaging/corvane.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/corvane.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT development)

set(CORVANE_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Corvane)
configure_package_config_file(${PROJECT_SOURCE_DIR}/packaging/CorvaneConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/CorvaneConfig.cmake
  INSTALL_DESTINATION ${CORVANE_CMAKE_DIR}
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/CorvaneConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/packaging/CorvaneConfig.cmake
              ${PROJECT_BINARY_DIR}/packaging/CorvaneConfigVersion.cmake
  DESTINATION ${CORVANE_CMAKE_DIR} COMPONENT development)

# The plug-in is loaded by path and linked by nobody: no SONAME to keep.
install(TARGETS tarnwick
  LIBRARY DESTINATION ${PELLUMIN_PRIVATE_LIBDIR} COMPONENT runtime NAMELINK_SKIP)
install(TARGETS corvane_tool hxhost tarnwick-squid
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)

# The administrators' commands, with the version and the packaged paths,
# and the shell code they share (found beside them in the build tree).
set(PELLUMIN_FULL_PRIVATE_LIBDIR ${CMAKE_INSTALL_PREFIX}/${PELLUMIN_PRIVATE_LIBDIR})
configure_file(${PROJECT_SOURCE_DIR}/scripts/pellumin-common.sh.in
               ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/pellumin-common.sh @ONLY)
install(FILES ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/pellumin-common.sh
  DESTINATION ${PELLUMIN_PRIVATE_LIBDIR} COMPONENT runtime)
foreach(script pellumin-config pellumin-update-lists)
  configure_file(${PROJECT_SOURCE_DIR}/scripts/${script}.in
                 ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
                                  GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  install(PROGRAMS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${script}
    DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/data/sample.txt ${PROJECT_BINARY_DIR}/data/sample.lst
  DESTINATION ${CMAKE_INSTALL_DATADIR}/pellumin COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/README.md
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pellumin COMPONENT runtime)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/doc/
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/pellumin COMPONENT runtime
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png")
install(FILES ${PROJECT_SOURCE_DIR}/packaging/corvane.bash-completion
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
  RENAME corvane COMPONENT runtime)

# Manual pages from each command's --help and --version (help2man), with
# the sections of packaging/man/COMMAND.h2m.
find_program(PELLUMIN_HELP2MAN help2man)
if(PELLUMIN_HELP2MAN)
  set(man_pages "")
  foreach(command corvane hxhost tarnwick-squid pellumin-config pellumin-update-lists)
    if(command STREQUAL "corvane")
      set(program $<TARGET_FILE:corvane_tool>)
      set(depends corvane_tool)
    elseif(TARGET ${command})
      set(program $<TARGET_FILE:${command}>)
      set(depends ${command})
    else()
      set(program ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${command})
      set(depends ${PROJECT_SOURCE_DIR}/scripts/${command}.in)
    endif()
    set(page ${PROJECT_BINARY_DIR}/man/${command}.1)
    add_custom_command(OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${PELLUMIN_HELP2MAN} --no-info --section 1 --source "Pellumin ${PROJECT_VERSION}"
              --include ${PROJECT_SOURCE_DIR}/packaging/man/${command}.h2m
              --output ${page} ${program}
      DEPENDS ${depends} ${PROJECT_SOURCE_DIR}/packaging/man/${command}.h2m
      COMMENT "Manual page ${command}(1)"
      VERBATIM)
    list(APPEND man_pages ${page})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${man_pages})
  install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT runtime)
else()
  message(STATUS "install: no manual pages without help2man (Debian's help2man)")
endif()
