# Typing on Linux: XTest with the XKB layout on an X display. The key
# planning over keymap tables needs no X header.
find_package(X11 REQUIRED)
foreach(part Xtst Xi xkbcommon Xss)
  if(NOT X11_${part}_FOUND)
    message(FATAL_ERROR "Typing on Linux needs lib${part} with its headers (Debian: libxtst-dev, libxi-dev, libxkbcommon-dev, libxss-dev)")
  endif()
endforeach()

add_library(tarvik_typing_linux STATIC
  ${PROJECT_SOURCE_DIR}/src/keys/linux/key_sender_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/key_target_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/xkb_plan.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/xkey_injector.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/xtest_keyboard_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/xkb_keymap_text.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/virtual_keyboard_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/keys/linux/wayland_target_linux.cpp
)
# No moc here; Qt Core only for watching the window list's socket.
set_target_properties(tarvik_typing_linux PROPERTIES AUTOMOC OFF)
target_link_libraries(tarvik_typing_linux
  PUBLIC tarvik_core
  PRIVATE X11::X11 X11::Xtst X11::Xi X11::xkbcommon X11::Xss Qt6::Core)

# Wayland: the compositor's virtual keyboard and its list of windows (wlroots
# desktops). Their protocol definitions are not packaged in Debian 12: ours
# are under src/keys/linux/protocols, turned into C by wayland-scanner.
enable_language(C)  # the scanner's glue code is C
find_package(PkgConfig REQUIRED)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_SCANNER)
  message(FATAL_ERROR "Typing on Wayland needs wayland-scanner (Debian: libwayland-dev)")
endif()
set(TARVIK_PROTOCOL_DIR ${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols)
file(MAKE_DIRECTORY ${TARVIK_PROTOCOL_DIR})
foreach(protocol virtual-keyboard-unstable-v1 wlr-foreign-toplevel-management-unstable-v1)
  set(xml ${PROJECT_SOURCE_DIR}/src/keys/linux/protocols/${protocol}.xml)
  add_custom_command(
    OUTPUT ${TARVIK_PROTOCOL_DIR}/${protocol}-client-protocol.h ${TARVIK_PROTOCOL_DIR}/${protocol}-protocol.c
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${TARVIK_PROTOCOL_DIR}/${protocol}-client-protocol.h
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${TARVIK_PROTOCOL_DIR}/${protocol}-protocol.c
    DEPENDS ${xml}
    VERBATIM)
  target_sources(tarvik_typing_linux PRIVATE
    ${TARVIK_PROTOCOL_DIR}/${protocol}-client-protocol.h ${TARVIK_PROTOCOL_DIR}/${protocol}-protocol.c)
endforeach()
target_include_directories(tarvik_typing_linux PRIVATE ${TARVIK_PROTOCOL_DIR})
target_link_libraries(tarvik_typing_linux PRIVATE PkgConfig::WAYLAND_CLIENT)

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(tarvik_typing_tests
    ${PROJECT_SOURCE_DIR}/tests/linux/xkb_plan_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/typing_choice_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/xvfb_typing_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/xkb_keymap_text_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/wayland_target_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/lock_guard_test.cpp
  )
  set_target_properties(tarvik_typing_tests PROPERTIES AUTOMOC OFF)
  target_include_directories(tarvik_typing_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(tarvik_typing_tests PRIVATE
    tarvik_typing_linux X11::X11 X11::Xtst X11::xkbcommon X11::Xss GTest::gtest GTest::gtest_main)
  gtest_discover_tests(tarvik_typing_tests PROPERTIES LABELS unit)
endif()
