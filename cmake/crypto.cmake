# The programs' MD5 provider, chosen at build time: the one adapter
# (probes/md5.cc) wraps either OpenSSL's libcrypto (EVP) or libmd
# (MD5Init/MD5Update/MD5Final), the few tens of KB a firmware that carries no
# libcrypto needs instead of its megabytes. Both give the target `sw_md5` and
# SW_MD5_LIBRARY, the library file the router must carry.
#
# A cross build names the target's library: for libcrypto through
# FindOpenSSL's variables (OPENSSL_ROOT_DIR, or OPENSSL_CRYPTO_LIBRARY and
# OPENSSL_INCLUDE_DIR): a firmware sysroot's, Debian's for mipsel, or for
# big-endian MIPS, where Debian ships none, the one scripts/cross-openssl
# builds; for libmd through LIBMD_LIBRARY and LIBMD_INCLUDE_DIR (Debian's
# for mipsel, scripts/cross-libmd's for big-endian MIPS). Without one a cross
# build still builds everything else and leaves out spotwarden and what needs
# MD5: subsystems test `if(TARGET sw_md5)`.
set(SPOTWARDEN_MD5 libcrypto CACHE STRING "MD5 provider of the router programs: libcrypto or libmd")
set_property(CACHE SPOTWARDEN_MD5 PROPERTY STRINGS libcrypto libmd)
if(NOT SPOTWARDEN_MD5 MATCHES "^(libcrypto|libmd)$")
  message(FATAL_ERROR "SPOTWARDEN_MD5 must be libcrypto or libmd, not '${SPOTWARDEN_MD5}'")
endif()

set(sw_md5_required REQUIRED)
if(CMAKE_CROSSCOMPILING)
  set(sw_md5_required "")
endif()
set(SW_MD5_LIBRARY "" CACHE INTERNAL "Library file of the MD5 provider")
if(SPOTWARDEN_MD5 STREQUAL "libcrypto")
  find_package(OpenSSL ${sw_md5_required} COMPONENTS Crypto)
  if(TARGET OpenSSL::Crypto)
    add_library(sw_md5 INTERFACE)
    target_link_libraries(sw_md5 INTERFACE OpenSSL::Crypto)
    set(SW_MD5_LIBRARY "${OPENSSL_CRYPTO_LIBRARY}" CACHE INTERNAL "Library file of the MD5 provider")
  endif()
else()
  find_path(LIBMD_INCLUDE_DIR md5.h DOC "libmd's headers")
  find_library(LIBMD_LIBRARY md DOC "libmd")
  if(LIBMD_INCLUDE_DIR AND LIBMD_LIBRARY)
    add_library(sw_md5 INTERFACE)
    target_include_directories(sw_md5 SYSTEM INTERFACE ${LIBMD_INCLUDE_DIR})
    target_link_libraries(sw_md5 INTERFACE ${LIBMD_LIBRARY})
    target_compile_definitions(sw_md5 INTERFACE SPOTWARDEN_MD5_LIBMD=1)
    set(SW_MD5_LIBRARY "${LIBMD_LIBRARY}" CACHE INTERNAL "Library file of the MD5 provider")
  elseif(NOT CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "libmd not found (Debian package libmd-dev; or set LIBMD_LIBRARY and LIBMD_INCLUDE_DIR)")
  endif()
endif()
if(NOT TARGET sw_md5)
  message(STATUS "No ${SPOTWARDEN_MD5} for ${CMAKE_SYSTEM_PROCESSOR}: building without spotwarden and the MD5 tests")
endif()
