# 32-bit Windows libraries with mingw-w64.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QAX_MINGW_TRIPLE i686-w64-mingw32)
set(QAX_WINE_LOADER /usr/lib/wine/wine)
set(QAX_WINE_USER_EMULATOR qemu-i386-static)
# The magic line of a kernel binfmt entry that hands 32-bit x86 programs to
# an emulator (a regular expression): a 32-bit little-endian ELF header
# whose machine, at byte 18, is 3 (i386).
string(REPEAT "[0-9a-f]" 26 qax_elf_bytes_5_to_17)
set(QAX_WINE_BINFMT_MAGIC "^magic 7f454c4601${qax_elf_bytes_5_to_17}0300")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
