# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 compilers (the posix thread model,
# which std::thread needs). The libraries built for Windows live in the folders listed in
# MBX_WINDOWS_PREFIXES (colon-separated, from the environment or the command line).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MBX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MBX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MBX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MBX_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${MBX_MINGW_TRIPLE}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${MBX_MINGW_TRIPLE}-gcc-ranlib-posix CACHE FILEPATH "")

if(NOT MBX_WINDOWS_PREFIXES AND DEFINED ENV{MBX_WINDOWS_PREFIXES})
  set(MBX_WINDOWS_PREFIXES "$ENV{MBX_WINDOWS_PREFIXES}")
endif()
string(REPLACE ":" ";" mbx_prefixes "${MBX_WINDOWS_PREFIXES}")
set(CMAKE_FIND_ROOT_PATH /usr/${MBX_MINGW_TRIPLE} ${mbx_prefixes})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MBX_WINDOWS_PREFIXES)

# Test programs run under Wine.
find_program(MBX_WINE wine)
if(MBX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MBX_WINE})
endif()
