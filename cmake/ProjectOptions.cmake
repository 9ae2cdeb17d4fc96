# Warnings as errors and the sanitizer choice, applied to every target of the project.
set(qax_common_warnings -Wall -Wextra -Wpedantic -Wshadow -Werror)
set(qax_cxx_warnings -Wnon-virtual-dtor -Wold-style-cast)

# Product code (the libraries, the platform layer, the stand-ins): strict.
add_library(qax_options INTERFACE)
target_compile_options(qax_options INTERFACE
  ${qax_common_warnings} -Wconversion -Wsign-conversion
  $<$<COMPILE_LANGUAGE:CXX>:${qax_cxx_warnings}>)

# Tests, examples and benchmarks: the same without the conversion warnings,
# which the test frameworks' macros trip over.
add_library(qax_test_options INTERFACE)
target_compile_options(qax_test_options INTERFACE
  ${qax_common_warnings} $<$<COMPILE_LANGUAGE:CXX>:${qax_cxx_warnings}>)

# The fuzz targets: every target carries the fuzzer's coverage hooks; the
# targets themselves link the fuzzer's main (fuzz/CMakeLists.txt).
if(QAX_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz targets need clang: use the fuzz preset.")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QAX_SANITIZE)
  list(JOIN QAX_SANITIZE "," qax_sanitizers)
  set(qax_sanitize_flags -fsanitize=${qax_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${qax_sanitize_flags})
  add_link_options(${qax_sanitize_flags})
endif()
