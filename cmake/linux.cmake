# The Linux program tarvik: the portable core with Qt 6 Widgets, Qt Bluetooth,
# Qt Serial Port, Qt Network and X11 twins.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 REQUIRED COMPONENTS Core Widgets Network DBus Bluetooth SerialPort)
include(GNUInstallDirs)

# Windows-1252, which Windows gives the program as its code page; Linux has none.
target_sources(tarvik_core PRIVATE src/core/cp1252.cpp)

# Links to the reader (Bluetooth RFCOMM, serial ports, TCP).
include(${CMAKE_CURRENT_LIST_DIR}/linux_links.cmake OPTIONAL)
# Typing (XTest with the XKB layout, /dev/uinput).
include(${CMAKE_CURRENT_LIST_DIR}/linux_typing.cmake OPTIONAL)

# Unit tests of the Linux twins' own logic.
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  add_executable(tarvik_linux_tests
    tests/linux/cp1252_test.cpp
  )
  target_include_directories(tarvik_linux_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tarvik_linux_tests PRIVATE tarvik_core GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(tarvik_linux_tests PROPERTIES LABELS unit)
endif()

