# What `cmake --install` puts under the prefix, and the Debian package CPack builds from it:
#   include/rondel.h                    the exported functions
#   lib/librondel.so.1.0.0              with SONAME librondel.so.1 and the librondel.so link
#   lib/cmake/Rondel/                   find_package(Rondel): the imported target Rondel::rondel
#   lib/pkgconfig/rondel.pc             pkg-config --cflags --libs rondel
#   bin/                                the operator tools that this build has
# A host needs rondel.h and -lrondel only: the library's own code is linked into it, and
# the shared library names FreeTDS's libsybdb.so.5 itself (DT_NEEDED).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(RONDEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Rondel)

install(TARGETS rondel EXPORT RondelTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/rondel.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT RondelTargets NAMESPACE Rondel:: DESTINATION ${RONDEL_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/RondelConfig.cmake.in
  ${PROJECT_BINARY_DIR}/RondelConfig.cmake INSTALL_DESTINATION ${RONDEL_CMAKE_DIR})
# The interface changes only with the major version (the SONAME's number).
write_basic_package_version_file(${PROJECT_BINARY_DIR}/RondelConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/RondelConfig.cmake
  ${PROJECT_BINARY_DIR}/RondelConfigVersion.cmake DESTINATION ${RONDEL_CMAKE_DIR})

# rondel.pc names the prefix the files really went to (`cmake --install --prefix` decides
# it at install time, CPack stages under DESTDIR), so it is written at install time, straight
# to its place: two installs running at once never share a file.
install(CODE "
  set(RONDEL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  set(RONDEL_PC_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
  set(RONDEL_PC_INCLUDEDIR \"${CMAKE_INSTALL_INCLUDEDIR}\")
  set(RONDEL_PC_VERSION \"${PROJECT_VERSION}\")
  set(pc \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}/pkgconfig/rondel.pc\")
  message(STATUS \"Installing: \${pc}\")
  configure_file(\"${CMAKE_CURRENT_LIST_DIR}/rondel.pc.in\" \"\${pc}\" @ONLY)
")

# The operator tools: the host command, the diagnostics monitor, and the snapshot inspector
# and venue simulator when this tree has them. They find librondel.so beside them
# ($ORIGIN/../lib), wherever the prefix is.
# venuedb is not installed unless asked for: it is the test and demo database server, not
# something a venue runs (a venue runs its own database server), and it would add SQLite to
# the package's dependencies.
option(RONDEL_INSTALL_VENUEDB "Install venuedb, the test and demo database server" OFF)
set(rondel_tools)
foreach(tool rondel_host rondel-monitor rondel-snapshot rondel_snapshot rondel-venue rondel_venue)
  if(TARGET ${tool})
    list(APPEND rondel_tools ${tool})
  endif()
endforeach()
if(RONDEL_INSTALL_VENUEDB)
  list(APPEND rondel_tools venuedb)
endif()
set_target_properties(${rondel_tools} PROPERTIES
  INSTALL_RPATH "$ORIGIN/../${CMAKE_INSTALL_LIBDIR}")
install(TARGETS ${rondel_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# `cpack -G DEB` in the build directory: one package with the library, header, CMake and
# pkg-config files and tools. Its dependencies come from dpkg-shlibdeps, so they are the
# packages that really provide what the binaries link: FreeTDS's libsybdb5 and the C and
# C++ runtimes. The generated shlibs file and ldconfig trigger let other packages depend
# on librondel.so.1 in turn.
# Packaging takes what the build made, as `cmake --install` does: `cpack` (and `make
# install`) do not start a build of every target (tests and benchmarks included) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
set(CPACK_PACKAGE_NAME rondel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Rondel maintainers <maintainers@rondel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "database-access library of a karaoke venue's video server")
set(CPACK_PACKAGE_DESCRIPTION
  "librondel.so answers a venue video server's questions (next video, background play, media, rooms, file servers, play records) from a FreeTDS DB-Library connection and a catalogue kept in memory and in snapshot files. With rondel.h, the CMake and pkg-config files, and the operator tools.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
include(CPack)
