# Install rules: the shared library, the public headers, a pkg-config file and
# a CMake package so that hosts can use find_package(VXSpeechSDK).
include(CMakePackageConfigHelpers)

install(TARGETS vxspeechsdk EXPORT VXSpeechSDKTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/vxs DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VXSpeechSDKTargets
  NAMESPACE VXSpeechSDK::
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VXSpeechSDK)

configure_package_config_file(cmake/VXSpeechSDKConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/VXSpeechSDKConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VXSpeechSDK)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/VXSpeechSDKConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/VXSpeechSDKConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/VXSpeechSDKConfigVersion.cmake
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VXSpeechSDK)

# The pkg-config file finds the prefix from its own location, so that an install
# into another prefix (cmake --install --prefix, DESTDIR staging) stays usable.
file(RELATIVE_PATH VXS_PC_PREFIX_FROM_PCFILEDIR
  ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
string(REGEX REPLACE "/$" "" VXS_PC_PREFIX_FROM_PCFILEDIR "${VXS_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(cmake/vxspeechsdk.pc.in ${CMAKE_CURRENT_BINARY_DIR}/vxspeechsdk.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/vxspeechsdk.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Default detector model files ship next to the library.
file(GLOB _vxs_models CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/models/*.dat)
if(_vxs_models)
  install(FILES ${_vxs_models} DESTINATION ${CMAKE_INSTALL_DATADIR}/vxspeechsdk/models)
endif()
