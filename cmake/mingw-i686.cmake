# Cross toolchain: 32-bit Windows executables with mingw-w64 (Debian's g++-mingw-w64-i686).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(triple i686-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc)
# The posix thread model variant is the one Debian builds libstdc++ for; either works without threads.
find_program(mingw_cxx NAMES ${triple}-g++-posix ${triple}-g++)
set(CMAKE_CXX_COMPILER ${mingw_cxx})
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
