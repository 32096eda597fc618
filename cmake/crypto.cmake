# OpenSSL's libcrypto, the programs' MD5. A cross build names the target's
# through FindOpenSSL's variables (OPENSSL_ROOT_DIR, or OPENSSL_CRYPTO_LIBRARY
# and OPENSSL_INCLUDE_DIR): a firmware sysroot's, Debian's for mipsel, or for
# big-endian MIPS, where Debian ships none, the one scripts/cross-openssl
# builds. Without one a cross build still builds everything else and leaves
# out spotwarden and what needs libcrypto: subsystems test
# `if(TARGET OpenSSL::Crypto)`.
if(CMAKE_CROSSCOMPILING)
  find_package(OpenSSL COMPONENTS Crypto)
  if(NOT TARGET OpenSSL::Crypto)
    message(STATUS "No libcrypto for ${CMAKE_SYSTEM_PROCESSOR}: building without spotwarden and the MD5 tests")
  endif()
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()
