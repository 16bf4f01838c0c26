if(MBX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# Fuzzing: coverage for libFuzzer in every target of ours, with the same sanitizers; the
# harnesses link the fuzzer's own main (tests/fuzz).
if(MBX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "MBX_FUZZ needs clang (CC=clang-14 CXX=clang++-14)")
  endif()
  if(NOT MBX_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
