# Sources of the mailbox protocols (asynchronous immediate commands, file
# transfer) and the two test exports, added to the boardport library.
list(APPEND BOARDPORT_MAILBOX_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/crc32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mailbox_packet.cpp
  ${CMAKE_CURRENT_LIST_DIR}/mailbox_immediate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_packets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_state.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_file.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_commands.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_send.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ftp_receive.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pci_test.cpp)
