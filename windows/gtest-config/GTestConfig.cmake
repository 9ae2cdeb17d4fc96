# GoogleTest of the cross build: cmake/windows.cmake builds it from source;
# this config lets find_package(GTest) find those targets.
if(TARGET GTest::gtest AND TARGET GTest::gtest_main)
  set(GTest_FOUND TRUE)
else()
  set(GTest_FOUND FALSE)
  set(GTest_NOT_FOUND_MESSAGE "GoogleTest targets of the cross build are missing")
endif()
