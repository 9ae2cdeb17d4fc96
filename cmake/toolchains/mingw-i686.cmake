# 32-bit Windows libraries with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QAX_MINGW_TRIPLE i686-w64-mingw32)
set(QAX_WINE_LOADER /usr/lib/wine/wine)
set(QAX_WINE_USER_EMULATOR qemu-i386-static)
# The interpreter of a kernel's binfmt entry that hands 32-bit programs to
# such an emulator (a regular expression: the emulator, or Debian's wrapper).
set(QAX_WINE_BINFMT_INTERPRETER "qemu-i386|i386-binfmt")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
