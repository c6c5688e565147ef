# The Linux program tarvik: the portable core with Qt 6 Widgets, Qt Bluetooth,
# Qt Serial Port, Qt Network and X11 twins.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 REQUIRED COMPONENTS Core Widgets Network DBus Bluetooth SerialPort)
include(GNUInstallDirs)

# Windows-1252, which Windows gives the program as its code page; Linux has none.
target_sources(tarvik_core PRIVATE src/core/cp1252.cpp)

# Links to the reader (Bluetooth RFCOMM, serial ports, TCP).
include(${CMAKE_CURRENT_LIST_DIR}/linux_links.cmake OPTIONAL)
# Typing (XTest with the XKB layout).
include(${CMAKE_CURRENT_LIST_DIR}/linux_typing.cmake OPTIONAL)

# The window, tray, selection window, event pump, services, settings store
# and log: the Linux twins of the Win32 pieces beside them.
add_library(tarvik_qt STATIC
  src/core/linux/dialogs_linux.cpp
  src/core/linux/event_pump_linux.cpp
  src/core/linux/file_io_linux.cpp
  src/core/linux/log_files_linux.cpp
  src/core/linux/services_linux.cpp
  src/core/linux/watched_file_linux.cpp
  src/core/linux/xdg_linux.cpp
  src/settings/linux/settings_store_linux.cpp
  src/link/linux/selection_window_linux.cpp
  src/shell/linux/end_signals_linux.cpp
  src/shell/linux/fonts_linux.cpp
  src/shell/linux/resume_linux.cpp
  src/shell/linux/rx_window_linux.cpp
  src/shell/linux/shell_linux.cpp
  src/shell/linux/single_instance_linux.cpp
)
target_compile_definitions(tarvik_qt PUBLIC TARVIK_VERSION="${PROJECT_VERSION}")
# xcb: the window's own request to be iconified (shell_linux.cpp).
find_library(TARVIK_XCB_LIBRARY xcb REQUIRED)
# libcanberra: sounds through the desktop's sound server (services_linux.cpp).
find_package(PkgConfig REQUIRED)
pkg_check_modules(CANBERRA REQUIRED IMPORTED_TARGET libcanberra)
target_link_libraries(tarvik_qt PUBLIC tarvik_core Qt6::Widgets Qt6::Network Qt6::DBus
                      PRIVATE ${TARVIK_XCB_LIBRARY} PkgConfig::CANBERRA)
# The pictures the Windows program keeps in its resources: the icon (16 to
# 48 pixels), the logo and the exit symbol.
qt_add_resources(tarvik_qt tarvik_art PREFIX /tarvik BASE src/shell/win/res
  FILES src/shell/win/res/tarvik.ico src/shell/win/res/logo.bmp src/shell/win/res/exit.bmp)

# Typing through the desktop portal's remote keyboard (GNOME, KDE) and the
# session lock from logind: both over Qt D-Bus, beside the Qt-free typing.
if(TARGET tarvik_typing_linux)
  add_library(tarvik_desktop_linux STATIC
    src/keys/linux/field_reader_linux.cpp
    src/keys/linux/gnome_layout_linux.cpp
    src/keys/linux/portal_keyboard_linux.cpp
    src/keys/linux/portal_session_linux.cpp
    src/keys/linux/session_lock_linux.cpp
  )
  target_link_libraries(tarvik_desktop_linux PUBLIC tarvik_typing_linux tarvik_qt Qt6::DBus)
  # One read of the focused field after another, timed (tools/bench/field_read_bench.py).
  add_executable(tarvik_field_probe tools/field_probe/field_probe_linux.cpp)
  target_link_libraries(tarvik_field_probe PRIVATE tarvik_desktop_linux)
endif()

# Unit tests of the Linux twins' own logic.
if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  add_executable(tarvik_linux_tests
    tests/linux/cp1252_test.cpp
    tests/linux/settings_store_linux_test.cpp
    tests/linux/sound_linux_test.cpp
    tests/linux/selection_window_linux_test.cpp
    tests/linux/xdg_paths_test.cpp
  )
  if(TARGET tarvik_desktop_linux)
    target_sources(tarvik_linux_tests PRIVATE tests/linux/portal_keyboard_test.cpp)
    target_link_libraries(tarvik_linux_tests PRIVATE tarvik_desktop_linux)
  endif()
  target_include_directories(tarvik_linux_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(tarvik_linux_tests PRIVATE tarvik_qt GTest::gtest GTest::gtest_main)
  include(GoogleTest)
  gtest_discover_tests(tarvik_linux_tests PROPERTIES LABELS unit)
endif()

# The program itself, once the links and the typing are there.
if(TARGET tarvik_links_linux AND TARGET tarvik_typing_linux)
  add_executable(tarvik src/shell/linux/main_linux.cpp)
  target_link_libraries(tarvik PRIVATE tarvik_qt tarvik_core tarvik_links_linux tarvik_typing_linux
                                       tarvik_desktop_linux)

  set(pkg ${CMAKE_SOURCE_DIR}/packaging/linux)
  install(TARGETS tarvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${pkg}/tarvik.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  foreach(size 16 24 32 48)
    install(FILES ${pkg}/icons/tarvik-${size}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tarvik.png)
  endforeach()
  install(FILES ${pkg}/tarvik-autostart.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvik)
  install(FILES ${pkg}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

  # cpack -G DEB in the build folder.
  set(CPACK_PACKAGE_NAME tarvik)
  set(CPACK_PACKAGE_VENDOR "Tarvik")
  set(CPACK_PACKAGE_CONTACT "Tarvik maintainers <tarvik@example.invalid>")
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Bluetooth barcode reader as a keyboard")
  set(CPACK_PACKAGE_DESCRIPTION
      "Keeps a serial link open to one barcode reader (Bluetooth, serial port or TCP) and types every line it reads into the focused window.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_STRIP_FILES ON)
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  # The libraries the program links, from dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The sound server side of libcanberra (PulseAudio, PipeWire); without it, ALSA.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcanberra-pulse, sound-theme-freedesktop")
  include(CPack)
endif()
