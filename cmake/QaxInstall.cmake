# `cmake --install`: the C headers, the four shared libraries, the stand-in
# programs with the shipped machine configuration, a CMake package
# (find_package(qax): qax::motionapi, qax::linkhub, qax::boardport,
# qax::journal) and qax.pc for pkg-config. POSIX builds only; the Windows
# DLLs ship on their own (docs/windows.md).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(qax_package_libraries journal boardport linkhub motionapi)
foreach(lib IN LISTS qax_package_libraries)
  if(NOT TARGET ${lib})
    message(STATUS "qax package: ${lib} is not built, nothing installed")
    return()
  endif()
endforeach()

set(QAX_INSTALL_INCLUDEDIR ${CMAKE_INSTALL_INCLUDEDIR}/qax)
set(QAX_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/qax)

# The libraries load each other from the folder they are installed in.
set_target_properties(${qax_package_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${qax_package_libraries} EXPORT qaxTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${QAX_INSTALL_INCLUDEDIR})
install(FILES
  ${PROJECT_SOURCE_DIR}/include/motionapi.h
  ${PROJECT_SOURCE_DIR}/include/linkhub.h
  ${PROJECT_SOURCE_DIR}/include/boardport.h
  ${PROJECT_SOURCE_DIR}/include/journal.h
  ${PROJECT_SOURCE_DIR}/include/qax_export.h
  DESTINATION ${QAX_INSTALL_INCLUDEDIR})

# The stand-ins that make the virtual machine, and the machine they serve
# unless told otherwise.
foreach(program vboard_program cardhost)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/cardhost/machine.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/qax)

install(EXPORT qaxTargets NAMESPACE qax:: DESTINATION ${QAX_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/qaxConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/qaxConfig.cmake
  INSTALL_DESTINATION ${QAX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/qaxConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/qaxConfig.cmake ${CMAKE_BINARY_DIR}/package/qaxConfigVersion.cmake
  DESTINATION ${QAX_INSTALL_CMAKEDIR})

# pkg-config: paths relative to the .pc file, so that `--prefix` at install
# time holds.
set(qax_pkgconfig_dir ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QAX_PC_PREFIX_FROM_PCFILEDIR /prefix/${qax_pkgconfig_dir} /prefix)
string(REGEX REPLACE "/$" "" QAX_PC_PREFIX_FROM_PCFILEDIR "${QAX_PC_PREFIX_FROM_PCFILEDIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/qax.pc.in ${CMAKE_BINARY_DIR}/package/qax.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/package/qax.pc DESTINATION ${qax_pkgconfig_dir})
