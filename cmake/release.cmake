# What makes the shipped executables a release: version information from the
# project's version, the PE flags of a careful Windows build, bytes that do
# not depend on when or where they were built, and the zip a user downloads.

# No build timestamp in the PE header and no build folder in the code, so
# that two builds of the same source give the same bytes. ASLR with
# relocations, NX, terminal-server aware; NO_SEH because the images register
# no structured exception handler (the shape test checks it).
set(LUMENKEEP_RELEASE_COMPILE -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)
set(LUMENKEEP_RELEASE_LINK -Wl,--no-insert-timestamp -Wl,--dynamicbase -Wl,--nxcompat
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

# lumenkeep_package(TARGETS...): `--target package` makes
# Lumenkeep-<version>-win32.zip with the executables, the README and their
# SHA-256 sums.
function(lumenkeep_package)
  install(TARGETS ${ARGN} RUNTIME DESTINATION .)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION . RENAME README.txt)
  set(sums "")
  foreach(target IN LISTS ARGN)
    string(APPEND sums "file(SHA256 \"\${dir}/${target}.exe\" sum)\n")
    string(APPEND sums "string(APPEND sums \"\${sum}  ${target}.exe\\n\")\n")
  endforeach()
  install(CODE "set(dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")\nset(sums \"\")\n${sums}file(WRITE \"\${dir}/SHA256SUMS\" \"\${sums}\")")
  set(CPACK_GENERATOR ZIP PARENT_SCOPE)
  set(CPACK_PACKAGE_NAME Lumenkeep PARENT_SCOPE)
  set(CPACK_PACKAGE_FILE_NAME Lumenkeep-${PROJECT_VERSION}-${LUMENKEEP_PACKAGE_SYSTEM} PARENT_SCOPE)
endfunction()
