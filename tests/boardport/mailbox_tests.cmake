# Tests of the mailbox protocols (asynchronous immediate commands, file
# transfer) against the virtual board. The check value is also tested on its
# own, so its source is compiled in.
if(TARGET boardport AND TARGET vboard AND TARGET test_support)
qax_add_test(boardport_mailbox_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/mailbox_test_env.cpp
    ${CMAKE_CURRENT_LIST_DIR}/mailbox_immediate_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ftp_crc32_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ftp_commands_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ftp_send_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/ftp_receive_test.cpp
    ${PROJECT_SOURCE_DIR}/boardport/crc32.cpp
  LIBS boardport journal vboard test_support platform)
target_include_directories(boardport_mailbox_tests PRIVATE ${PROJECT_SOURCE_DIR}/boardport)
# Runs the example program as a child process: not on Windows, where the
# examples are not built.
if(NOT WIN32)
  target_sources(boardport_mailbox_tests PRIVATE ${CMAKE_CURRENT_LIST_DIR}/ftp_roundtrip_example_test.cpp)
endif()
if(TARGET file_roundtrip)
  add_dependencies(boardport_mailbox_tests file_roundtrip)
endif()
endif()
