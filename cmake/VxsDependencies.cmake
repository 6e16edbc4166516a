# Third-party libraries, all from Debian 12 packages (see scripts/setup-deps).

set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(CURL REQUIRED)

pkg_check_modules(CJSON REQUIRED IMPORTED_TARGET libcjson)
pkg_check_modules(UUID REQUIRED IMPORTED_TARGET uuid)
pkg_check_modules(AMRNB REQUIRED IMPORTED_TARGET opencore-amrnb)
pkg_check_modules(AMRWB REQUIRED IMPORTED_TARGET opencore-amrwb)
pkg_check_modules(AMRWBENC REQUIRED IMPORTED_TARGET vo-amrwbenc)

# What the library itself links against.
add_library(vxs_deps INTERFACE)
target_link_libraries(vxs_deps INTERFACE
  PkgConfig::CJSON PkgConfig::UUID OpenSSL::Crypto OpenSSL::SSL ZLIB::ZLIB CURL::libcurl
  PkgConfig::AMRNB PkgConfig::AMRWBENC)
add_library(vxs::deps ALIAS vxs_deps)
