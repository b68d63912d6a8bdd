# What `cmake --install build [--prefix DIR]` puts in place, and nothing more:
#   bin/tavikhost, bin/tavikdecode, bin/tavikgen
#   include/tavik3.h
#   lib/libtavik3.so.3.0.0, lib/libtavik3.so.3 (SONAME), lib/libtavik3.so
#   lib/pkgconfig/tavik3.pc
#   lib/cmake/tavik3/tavik3Config.cmake, tavik3ConfigVersion.cmake,
#     tavik3Targets.cmake, tavik3Targets-<config>.cmake  (target tavik3::tavik3)
# (lib is CMAKE_INSTALL_LIBDIR.) The static subsystem libraries are linked into
# the shared library and the tools and are not installed. Both package files
# locate the prefix from their own place, so an installed tree can be moved.
include(CMakePackageConfigHelpers)

set(TAVIK_CMAKE_PACKAGE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/tavik3)

if(TARGET tavik3)
  install(TARGETS tavik3 EXPORT tavik3Targets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  install(EXPORT tavik3Targets
    NAMESPACE tavik3::
    DESTINATION ${TAVIK_CMAKE_PACKAGE_DIR})

  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/tavik3Config.cmake.in
    ${PROJECT_BINARY_DIR}/tavik3Config.cmake
    INSTALL_DESTINATION ${TAVIK_CMAKE_PACKAGE_DIR})
  # A host built for 3.x runs with any later 3.y (same SONAME).
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/tavik3ConfigVersion.cmake
    VERSION ${PROJECT_VERSION}
    COMPATIBILITY SameMajorVersion)
  install(FILES ${PROJECT_BINARY_DIR}/tavik3Config.cmake
                ${PROJECT_BINARY_DIR}/tavik3ConfigVersion.cmake
    DESTINATION ${TAVIK_CMAKE_PACKAGE_DIR})

  # tavik3.pc names its prefix relative to its own folder (${pcfiledir}), so
  # `--prefix` at install time and moved trees work.
  if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
    set(TAVIK_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  else()
    file(RELATIVE_PATH _rel "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
    string(REGEX REPLACE "/$" "" _rel "${_rel}")
    set(TAVIK_PC_PREFIX "\${pcfiledir}/${_rel}")
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/cmake/tavik3.pc.in ${PROJECT_BINARY_DIR}/tavik3.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/tavik3.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()

foreach(_tool tavikhost tavikdecode tavikgen)
  if(TARGET ${_tool})
    install(TARGETS ${_tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
