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

# The window, tray, selection window, event pump, services, settings store
# and log: the Linux twins of the Win32 pieces beside them.
add_library(tarvik_qt STATIC
  src/core/linux/dialogs_linux.cpp
  src/core/linux/event_pump_linux.cpp
  src/core/linux/log_files_linux.cpp
  src/core/linux/services_linux.cpp
  src/core/linux/xdg_linux.cpp
  src/settings/linux/settings_store_linux.cpp
  src/bluetooth/linux/selection_window_linux.cpp
  src/shell/linux/fonts_linux.cpp
  src/shell/linux/resume_linux.cpp
  src/shell/linux/rx_window_linux.cpp
  src/shell/linux/shell_linux.cpp
  src/shell/linux/single_instance_linux.cpp
)
target_compile_definitions(tarvik_qt PUBLIC TARVIK_VERSION="${PROJECT_VERSION}")
target_link_libraries(tarvik_qt PUBLIC tarvik_core Qt6::Widgets Qt6::Network Qt6::DBus)
# The pictures the Windows program keeps in its resources: the icon (16 to
# 48 pixels), the logo and the exit symbol.
qt_add_resources(tarvik_qt tarvik_art PREFIX /tarvik BASE src/shell/win/res
  FILES src/shell/win/res/tarvik.ico src/shell/win/res/logo.bmp src/shell/win/res/exit.bmp)

# Unit tests of the Linux twins' own logic.
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  add_executable(tarvik_linux_tests
    tests/linux/cp1252_test.cpp
    tests/linux/xdg_paths_test.cpp
  )
  target_include_directories(tarvik_linux_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tarvik_linux_tests PRIVATE tarvik_qt GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(tarvik_linux_tests PROPERTIES LABELS unit)
endif()
