# OpenSSL's libcrypto, the programs' MD5. Debian has none for big-endian
# MIPS, so a cross build without it still builds everything else and leaves
# out spotwarden and what needs libcrypto: subsystems test
# `if(TARGET OpenSSL::Crypto)`. A firmware build names the sysroot's library
# through FindOpenSSL's variables: OPENSSL_ROOT_DIR, or OPENSSL_CRYPTO_LIBRARY
# and OPENSSL_INCLUDE_DIR.
if(CMAKE_CROSSCOMPILING)
  find_package(OpenSSL COMPONENTS Crypto)
  if(NOT TARGET OpenSSL::Crypto)
    message(STATUS "No libcrypto for ${CMAKE_SYSTEM_PROCESSOR}: building without spotwarden and the MD5 tests")
  endif()
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()
