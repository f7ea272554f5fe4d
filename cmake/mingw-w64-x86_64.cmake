# Cross build of the Windows programs with Debian's mingw-w64 compilers.
# The -posix variants are required: the win32-thread variant has no
# std::thread. Everything is linked statically so the executables run under
# Wine (and on a bare Windows machine) without hunting for runtime DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VM_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VM_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VM_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VM_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest (and gtest discovery) run the .exe files through Wine.
find_program(VM_WINE wine)
if(VM_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VM_WINE})
endif()
