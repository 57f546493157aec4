# What makes the shipped executables a release: version information from the
# project's version, the PE flags of a careful Windows build, bytes that do
# not depend on when or where they were built, and the zip a user downloads.

# No build timestamp in the PE header and no build folder in the code, so
# that two builds of the same source give the same bytes. ASLR with
# relocations, NX, terminal-server aware; NO_SEH because the images register
# no structured exception handler (the shape test checks it).
set(LUMENKEEP_RELEASE_COMPILE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
set(LUMENKEEP_REPRODUCIBLE_LINK -Wl,--no-insert-timestamp)
set(LUMENKEEP_RELEASE_LINK ${LUMENKEEP_REPRODUCIBLE_LINK} -Wl,--dynamicbase -Wl,--nxcompat
  -Wl,--tsaware)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  list(APPEND LUMENKEEP_RELEASE_LINK -Wl,--no-seh)
  set(LUMENKEEP_PACKAGE_SYSTEM win32)
else()
  list(APPEND LUMENKEEP_RELEASE_LINK -Wl,--high-entropy-va)
  set(LUMENKEEP_PACKAGE_SYSTEM win64)
endif()

# lumenkeep_version_resource(FILE NAME DESCRIPTION): writes the resource
# script FILE (in the build folder) with the version information of NAME.exe.
function(lumenkeep_version_resource file name description)
  set(VERSION_NAME ${name})
  set(VERSION_DESCRIPTION ${description})
  configure_file(${CMAKE_SOURCE_DIR}/res/version.rc.in ${CMAKE_BINARY_DIR}/${file} @ONLY)
endfunction()

# lumenkeep_package(SHIPPED TARGETS... TESTS TARGETS...): README.txt, made from
# the user part of README.md at every build, and the target `package`, which
# makes Lumenkeep-<version>-<system>.zip (the executables of SHIPPED,
# README.txt and SHA256SUMS, at the zip's top level) and its .sha256 beside
# it, the same bytes for every build of one commit (packaging/make-zip.py says
# how); for the 32-bit build also the MSI, and the signatures and the package
# managers' manifests when the environment asks for them; and the test bundle
# Lumenkeep-<version>-<system>-tests.zip: the shipped executables as released,
# the files of TESTS and a README.txt on running them, which nothing a user
# downloads names (packaging/make-release.sh). Call it once every target it
# names exists.
function(lumenkeep_package)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "" "SHIPPED;TESTS")
  # The Windows Installer package installs this same file: keep its path.
  set(readme ${CMAKE_BINARY_DIR}/README.txt)
  add_custom_command(OUTPUT ${readme}
    COMMAND python3 ${CMAKE_SOURCE_DIR}/packaging/readme-to-text.py
      ${CMAKE_SOURCE_DIR}/README.md ${readme}
    DEPENDS ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/packaging/readme-to-text.py
    COMMENT "README.txt from the user part of README.md")
  add_custom_target(readme-txt ALL DEPENDS ${readme})

  list(TRANSFORM arg_SHIPPED REPLACE ".+" "$<TARGET_FILE:\\0>" OUTPUT_VARIABLE shipped)
  list(TRANSFORM arg_TESTS REPLACE ".+" "$<TARGET_FILE:\\0>" OUTPUT_VARIABLE tests)
  # The test bundle is reproducible like the zip, so its files are built
  # without a timestamp or the build folder too, and stripped.
  foreach(target IN LISTS arg_TESTS)
    target_compile_options(${target} PRIVATE ${LUMENKEEP_RELEASE_COMPILE})
    target_link_options(${target} PRIVATE -s ${LUMENKEEP_REPRODUCIBLE_LINK})
  endforeach()
  # A build folder configured while CPack made the zip keeps CPack's files,
  # and CMake then reserves the name `package`.
  file(REMOVE ${CMAKE_BINARY_DIR}/CPackConfig.cmake ${CMAKE_BINARY_DIR}/CPackSourceConfig.cmake)
  # Always run: the commit's time is read, and the signing and manifest
  # settings, when the release is made.
  add_custom_target(package
    COMMAND ${CMAKE_SOURCE_DIR}/packaging/make-release.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR}
      ${PROJECT_VERSION} ${LUMENKEEP_PACKAGE_SYSTEM} ${shipped} -- ${tests}
    DEPENDS ${readme}
    COMMENT "Release files of Lumenkeep-${PROJECT_VERSION}-${LUMENKEEP_PACKAGE_SYSTEM}"
    VERBATIM)
  add_dependencies(package readme-txt ${arg_SHIPPED} ${arg_TESTS})
endfunction()
