# The reader links on Linux: Bluetooth RFCOMM (Qt Bluetooth), serial ports
# (Qt Serial Port) and network readers (Qt Network).
add_library(tarvik_links_linux STATIC
  ${PROJECT_SOURCE_DIR}/src/link/linux/client_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/link/linux/discovery_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/link/linux/library_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/link/linux/link_errors_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/link/linux/serial_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/link/linux/sockets_linux.cpp
)
target_link_libraries(tarvik_links_linux PUBLIC
  tarvik_core Qt6::Core Qt6::Network Qt6::Bluetooth Qt6::SerialPort)

if(BUILD_TESTING)
  # Real sockets on this machine, and a pty pair from socat as the serial cable.
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(tarvik_links_tests ${PROJECT_SOURCE_DIR}/tests/linux/links_linux_test.cpp)
  # tarvik_qt: FatalError, which the links' handlers end in on an unplanned failure.
  target_link_libraries(tarvik_links_tests PRIVATE tarvik_links_linux tarvik_qt GTest::gtest)
  gtest_discover_tests(tarvik_links_tests PROPERTIES LABELS unit)
endif()
