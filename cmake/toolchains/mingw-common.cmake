# Shared part of the mingw-w64 cross toolchains. The including file sets
# QAX_MINGW_TRIPLE (i686-w64-mingw32 or x86_64-w64-mingw32), QAX_WINE_LOADER
# (the wine loader that runs programs of that width) and, where a kernel may
# refuse programs of that width, QAX_WINE_USER_EMULATOR (the user-mode
# emulator that runs the loader there) and QAX_WINE_BINFMT_MAGIC (the magic
# of a kernel binfmt entry that hands such programs to an emulator by
# itself). cmake/windows.cmake chooses between them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10)

# The -posix compilers: the default win32 thread model has no std::thread
# and no std::mutex.
set(CMAKE_C_COMPILER ${QAX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QAX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QAX_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${QAX_MINGW_TRIPLE}-dlltool CACHE FILEPATH "dlltool of the cross toolchain")
set(CMAKE_OBJDUMP ${QAX_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump of the cross toolchain")

set(CMAKE_FIND_ROOT_PATH /usr/${QAX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every DLL and program links the compiler's runtime statically, so that it
# needs nothing beside the system's DLLs and the stack's own libraries.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

