# Installation: the shared library (with its SONAME links), the public
# header, a CMake package giving moxcodec::moxcodec, a pkg-config file and
# the command-line tool.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

install(TARGETS moxcodec EXPORT moxcodecTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/moxcodec.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(MOXCODEC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/moxcodec)
install(EXPORT moxcodecTargets
  NAMESPACE moxcodec::
  FILE moxcodecTargets.cmake
  DESTINATION ${MOXCODEC_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/moxcodecConfig.cmake.in
  ${PROJECT_BINARY_DIR}/moxcodecConfig.cmake
  INSTALL_DESTINATION ${MOXCODEC_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/moxcodecConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/moxcodecConfig.cmake
  ${PROJECT_BINARY_DIR}/moxcodecConfigVersion.cmake
  DESTINATION ${MOXCODEC_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so the
# package stays valid whatever prefix `cmake --install --prefix` chose.
file(RELATIVE_PATH MOXCODEC_PC_UP "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
string(REGEX REPLACE "/$" "" MOXCODEC_PC_UP "${MOXCODEC_PC_UP}")
set(MOXCODEC_PC_PREFIX "\${pcfiledir}/${MOXCODEC_PC_UP}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/moxcodec.pc.in ${PROJECT_BINARY_DIR}/moxcodec.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/moxcodec.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

if(TARGET moxcodec_tool)
  install(TARGETS moxcodec_tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
