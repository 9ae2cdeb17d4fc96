# Windows (mingw-w64 cross build) helpers: GoogleTest built from source,
# fixed export tables from .def files, import libraries made with dlltool,
# and the static check of the built DLLs' export and import tables.
if(NOT WIN32)
  return()
endif()

set(QAX_WINDOWS_DIR ${CMAKE_CURRENT_LIST_DIR}/../windows)
get_filename_component(QAX_WINDOWS_DIR ${QAX_WINDOWS_DIR} ABSOLUTE)

find_program(QAX_DLLTOOL NAMES ${CMAKE_DLLTOOL} dlltool REQUIRED)
find_program(QAX_OBJDUMP NAMES ${CMAKE_OBJDUMP} objdump REQUIRED)

# The system DLLs a library or program of the stack may import; anything
# else must be one of the stack's own DLLs.
set(QAX_WINDOWS_SYSTEM_DLLS
  KERNEL32.dll ADVAPI32.dll SETUPAPI.dll msvcrt.dll api-ms-win-crt-runtime-l1-1-0.dll
  USER32.dll WS2_32.dll)

# qax_windows_default(<variable> <doc> VALUES <values...> [FORMER <value>]):
# a cache variable whose default follows this file. A cache that still holds
# this file's earlier default (recorded, or FORMER from before the record)
# takes the new one; a value set by hand stays.
function(qax_windows_default variable doc)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "FORMER" "VALUES")
  if(DEFINED CACHE{${variable}_DEFAULT})
    set(former "$CACHE{${variable}_DEFAULT}")
  else()
    set(former "${ARG_FORMER}")
  endif()
  if(NOT DEFINED CACHE{${variable}} OR "$CACHE{${variable}}" STREQUAL "${former}")
    set(${variable} "${ARG_VALUES}" CACHE STRING "${doc}" FORCE)
  endif()
  set(${variable}_DEFAULT "${ARG_VALUES}" CACHE INTERNAL "")
endfunction()

# Components of the Windows build. The 64-bit build carries boardport, the
# virtual board and what they and their tests need; cardhost, linkhub and
# motionapi are 32-bit deliverables, and the 32-bit build carries the
# examples that run on them.
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  qax_windows_default(QAX_WINDOWS_SKIP "Components left out of this Windows build"
    VALUES linkhub motionapi cardhost examples FORMER "linkhub;motionapi;cardhost;examples;vboard")
else()
  qax_windows_default(QAX_WINDOWS_SKIP "Components left out of this Windows build"
    VALUES "" FORMER "motionapi;examples;vboard")
endif()
list(REMOVE_ITEM QAX_COMPONENTS ${QAX_WINDOWS_SKIP})

# The test folders of the components that build (and, where wine runs them,
# run) for Windows besides tests/windows; each runs in every Windows build
# that carries its component. They also bring tests/support into the build.
# Every test of these folders runs under wine unless
# tests/windows/not-under-wine.txt names it (see tests/CMakeLists.txt).
qax_windows_default(QAX_WINDOWS_TESTS "Test folders built for Windows besides tests/windows"
  VALUES boardport linkhub motionapi FORMER "")

# How this machine runs the cross-built programs: the wine loader of their
# width itself, or, where the kernel refuses programs of that width (a
# kernel without 32-bit support), the same loader under user-mode emulation.
# QAX_WINE_WAY: auto (the loader first, the emulator second), direct, or
# emulated. Where neither runs, the test programs are still built but only
# the static checks are registered; with CI set in the environment that is
# an error, so that a CI machine never passes without running them.
set(QAX_WINE_WAY auto CACHE STRING "How the Windows test programs run: auto, direct or emulated")
set_property(CACHE QAX_WINE_WAY PROPERTY STRINGS auto direct emulated)
set(qax_wine_ways direct emulated)
if(NOT QAX_WINE_WAY STREQUAL "auto")
  set(qax_wine_ways ${QAX_WINE_WAY})
endif()
set(QAX_WINDOWS_RUN_TESTS OFF)
set(QAX_WINE_COMMAND "")
foreach(way IN LISTS qax_wine_ways)
  set(command ${QAX_WINE_LOADER})
  if(way STREQUAL "emulated")
    if(NOT QAX_WINE_USER_EMULATOR)
      continue()
    endif()
    find_program(QAX_WINE_EMULATOR_PATH NAMES ${QAX_WINE_USER_EMULATOR})
    if(NOT QAX_WINE_EMULATOR_PATH)
      continue()
    endif()
    set(command ${QAX_WINE_EMULATOR_PATH} ${QAX_WINE_LOADER})
  endif()
  # The loader is a program of the width itself: a kernel that refuses it
  # fails here ("Exec format error").
  execute_process(COMMAND ${command} --version
    RESULT_VARIABLE qax_wine_status OUTPUT_QUIET ERROR_QUIET TIMEOUT 60)
  if(qax_wine_status EQUAL 0)
    set(QAX_WINDOWS_RUN_TESTS ON)
    set(QAX_WINE_COMMAND ${command})
    break()
  endif()
endforeach()
# Whether the CPU is emulated: the emulator is in the command, or the kernel
# hands programs of this width to it (a binfmt entry, on a kernel without
# 32-bit support). Wine cannot run everything there, and each start takes
# tens of seconds: tests/CMakeLists.txt then registers only what
# tests/windows/under-emulation.txt names, each program as one test.
set(qax_wine_emulated OFF)
if(QAX_WINDOWS_RUN_TESTS AND QAX_WINE_USER_EMULATOR)
  list(GET QAX_WINE_COMMAND 0 qax_wine_first)
  if(NOT qax_wine_first STREQUAL QAX_WINE_LOADER)
    set(qax_wine_emulated ON)
  elseif(QAX_WINE_BINFMT_MAGIC)
    # An enabled entry that takes the loader's kind of program: on this
    # machine the kernel does not run those itself, an emulator does,
    # whatever the entry and its interpreter are named.
    file(GLOB qax_binfmt_entries /proc/sys/fs/binfmt_misc/*)
    list(FILTER qax_binfmt_entries EXCLUDE REGEX "/(register|status)$")
    foreach(entry IN LISTS qax_binfmt_entries)
      file(STRINGS ${entry} qax_binfmt_lines LIMIT_COUNT 8)
      list(GET qax_binfmt_lines 0 qax_binfmt_state)
      list(FILTER qax_binfmt_lines INCLUDE REGEX "${QAX_WINE_BINFMT_MAGIC}")
      if(qax_binfmt_state STREQUAL "enabled" AND qax_binfmt_lines)
        set(qax_wine_emulated ON)
      endif()
    endforeach()
  endif()
endif()
# In the cache for the scripts that read it (scripts/test-all).
set(QAX_WINE_EMULATED ${qax_wine_emulated} CACHE INTERNAL "The Windows test programs run on an emulated CPU")
if(QAX_WINDOWS_RUN_TESTS)
  list(JOIN QAX_WINE_COMMAND " " qax_wine_text)
  if(QAX_WINE_EMULATED)
    string(APPEND qax_wine_text " (an emulated CPU: only tests/windows/under-emulation.txt runs)")
  endif()
  message(STATUS "Windows test programs run with: ${qax_wine_text}")
  # Every test and every discovery runs its program through wine-run.
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/bash ${QAX_WINDOWS_DIR}/wine-run ${QAX_WINE_COMMAND} --)
elseif(DEFINED ENV{CI} AND NOT "$ENV{CI}" STREQUAL "" AND QAX_BUILD_TESTS)
  message(FATAL_ERROR "CI: no way to run ${CMAKE_SYSTEM_PROCESSOR} Windows programs here "
    "(tried ${QAX_WINE_LOADER}, then ${QAX_WINE_USER_EMULATOR} ${QAX_WINE_LOADER}): "
    "install wine (wine32 for 32-bit) or qemu-user-static")
else()
  message(STATUS "wine cannot run ${CMAKE_SYSTEM_PROCESSOR} programs here: Windows tests are built, not run")
endif()

# DLLs are named as the stack imports them (boardport.dll, not libboardport.dll).
set(CMAKE_SHARED_LIBRARY_PREFIX "")
set(CMAKE_SHARED_MODULE_PREFIX "")

# GoogleTest for the target from the Debian sources, under the names that
# find_package(GTest) gives on the build machine.
if(QAX_BUILD_TESTS AND NOT TARGET GTest::gtest)
  set(QAX_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${QAX_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  # find_package(GTest) then finds these targets through a config of ours.
  set(GTest_DIR ${QAX_WINDOWS_DIR}/gtest-config CACHE PATH "" FORCE)
endif()

# qax_windows_def(<target> <def file> [DECLARED_IN <header>]): the DLL's
# export table comes from the .def file (fixed ordinals, aliases); no symbol
# is exported by name unless the file lists it. With DECLARED_IN, the file
# lists the finished interface and only the functions the header declares
# are kept (aliases with them), at configure time, in
# <build>/windows/<target>.def; the expected export list
# windows/exports/<target>.txt is filtered the same way into
# <build>/windows/<target>.txt, so the table grows as functions land.
function(qax_windows_def target def_file)
  cmake_parse_arguments(PARSE_ARGV 2 ARG "" "DECLARED_IN" "")
  if(ARG_DECLARED_IN)
    set(out_dir ${CMAKE_BINARY_DIR}/windows)
    qax_windows_filter_exports(${def_file} ${QAX_WINDOWS_DIR}/exports/${target}.txt ${ARG_DECLARED_IN}
      ${out_dir}/${target}.def ${out_dir}/${target}.txt)
    set(def_file ${out_dir}/${target}.def)
  endif()
  target_sources(${target} PRIVATE ${def_file})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${def_file})
endfunction()

# qax_windows_filter_exports(<def> <list> <header> <def out> <list out>):
# see qax_windows_def. A function counts as declared when the header has
# its name followed by "(".
function(qax_windows_filter_exports def_file list_file header def_out list_out)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${def_file} ${list_file} ${header})
  file(READ ${header} declarations)
  file(READ ${def_file} def_text)
  string(REGEX REPLACE ";[^\n]*" "" def_text "${def_text}")  # comments (and list separators) out
  string(REPLACE "\n" ";" def_lines "${def_text}")
  set(kept_def "; Made from ${def_file}: the functions ${header} declares.\n")
  set(kept_names "")
  set(in_exports OFF)
  foreach(line IN LISTS def_lines)
    if(in_exports AND line MATCHES "^[ \t]+(\"([^\"]+)\"[ \t]*=[ \t]*)?([A-Za-z_][A-Za-z0-9_]*)")
      set(function_name ${CMAKE_MATCH_3})
      set(exported_name ${CMAKE_MATCH_3})
      if(CMAKE_MATCH_2)
        set(exported_name "${CMAKE_MATCH_2}")
      endif()
      if(NOT declarations MATCHES "[^A-Za-z0-9_]${function_name}[ \t\r\n]*\\(")
        continue()
      endif()
      list(APPEND kept_names "${exported_name}")
    elseif(line MATCHES "^EXPORTS")
      set(in_exports ON)
    endif()
    string(APPEND kept_def "${line}\n")
  endforeach()
  file(STRINGS ${list_file} list_lines)
  set(kept_list "# Made from ${list_file}: the functions ${header} declares.\n")
  foreach(line IN LISTS list_lines)
    if(line MATCHES "^([0-9]+|-) +([^ #]+)")
      list(FIND kept_names "${CMAKE_MATCH_2}" at)
      if(at LESS 0)
        continue()
      endif()
    endif()
    string(APPEND kept_list "${line}\n")
  endforeach()
  # Rewritten only when changed, so that an unchanged table relinks nothing.
  file(WRITE ${def_out}.new "${kept_def}")
  file(WRITE ${list_out}.new "${kept_list}")
  configure_file(${def_out}.new ${def_out} COPYONLY)
  configure_file(${list_out}.new ${list_out} COPYONLY)
endfunction()

# qax_windows_import_library(<name> DLL <dll name> DEF <def file>): an
# imported library target <name> whose import library dlltool makes from
# the .def file (NONAME entries import by ordinal only).
function(qax_windows_import_library name)
  cmake_parse_arguments(ARG "" "DLL;DEF" "" ${ARGN})
  set(out ${CMAKE_BINARY_DIR}/lib/lib${name}.a)
  add_custom_command(
    OUTPUT ${out}
    COMMAND ${QAX_DLLTOOL} --input-def ${ARG_DEF} --dllname ${ARG_DLL} --output-lib ${out}
    DEPENDS ${ARG_DEF}
    COMMENT "Import library ${name} from ${ARG_DEF}"
    VERBATIM)
  add_custom_target(${name}_generate DEPENDS ${out})
  add_library(${name} INTERFACE)
  target_link_libraries(${name} INTERFACE ${out})
  add_dependencies(${name} ${name}_generate)
endfunction()

# qax_link_boardport_by_ordinal(<target>): links <target> against boardport
# through an import library that names every function by ordinal only
# (NONAME), leaving out the timing tests at 24 and 25.
function(qax_link_boardport_by_ordinal target)
  if(NOT TARGET boardport_by_ordinal)
    qax_windows_import_library(boardport_by_ordinal DLL boardport.dll
      DEF ${QAX_WINDOWS_DIR}/boardport-ordinal-imports.def)
  endif()
  target_link_libraries(${target} PRIVATE boardport_by_ordinal)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/include)
  if(TARGET boardport)
    add_dependencies(${target} boardport)  # the DLL it loads at run time
  endif()
endfunction()

# qax_windows_check_exports(<target> EXPECTED <list file> [ALLOWED_DLLS ...]
#   [ORDINAL_IMPORTS <dll> <list file>]): a test that reads the built DLL's
# tables and compares them with the expected list (one export a line:
# "<ordinal> <name>", or "- <name>" when only the name matters).
function(qax_windows_check_exports target)
  cmake_parse_arguments(ARG "" "EXPECTED;ORDINAL_IMPORTS_DLL;ORDINAL_IMPORTS" "ALLOWED_DLLS" ${ARGN})
  if(NOT QAX_BUILD_TESTS)
    return()
  endif()
  set(allowed ${QAX_WINDOWS_SYSTEM_DLLS} ${ARG_ALLOWED_DLLS})
  list(JOIN allowed "," allowed_text)
  add_test(NAME windows_exports_${target}
    COMMAND ${CMAKE_COMMAND}
      -DOBJDUMP=${QAX_OBJDUMP}
      -DDLL=$<TARGET_FILE:${target}>
      -DEXPECTED=${ARG_EXPECTED}
      -DALLOWED_DLLS=${allowed_text}
      -DORDINAL_IMPORTS_DLL=${ARG_ORDINAL_IMPORTS_DLL}
      -DORDINAL_IMPORTS=${ARG_ORDINAL_IMPORTS}
      -P ${QAX_WINDOWS_DIR}/check-exports.cmake)
endfunction()
