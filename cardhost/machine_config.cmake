# The machine configuration library: the parser, the shared variables built
# from it and where a program finds its file. Shared by cardhost and the
# vboard program, so both read one machine the same way; the first of them
# that the build reaches defines it.
include_guard(GLOBAL)

set(qax_machine_config_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(machine_config STATIC
  ${qax_machine_config_dir}/src/machine_config.cpp
  ${qax_machine_config_dir}/src/shared_variables.cpp
  ${qax_machine_config_dir}/src/config_source.cpp)
target_include_directories(machine_config
  PUBLIC ${qax_machine_config_dir}/include
  PRIVATE ${CMAKE_BINARY_DIR}/cardhost/generated)
target_link_libraries(machine_config PRIVATE qax_options platform)

# The shipped configuration doubles as the built-in fallback.
file(READ ${qax_machine_config_dir}/machine.conf CARDHOST_DEFAULT_CONFIG)
configure_file(${qax_machine_config_dir}/src/default_config.h.in
  ${CMAKE_BINARY_DIR}/cardhost/generated/default_config.h @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${qax_machine_config_dir}/machine.conf)

# qax_copy_machine_config(<target>): puts the shipped configuration beside
# the program, where the program looks for it.
function(qax_copy_machine_config target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/machine.conf
            $<TARGET_FILE_DIR:${target}>/machine.conf
    VERBATIM)
endfunction()
