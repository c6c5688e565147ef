# Typing on Linux: XTest with the XKB layout on an X display, /dev/uinput
# elsewhere. The key planning over keymap tables needs no X header.
find_package(X11 REQUIRED)
foreach(part Xtst Xi xkbcommon)
  if(NOT X11_${part}_FOUND)
    message(FATAL_ERROR "Typing on Linux needs lib${part} with its headers (Debian: libxtst-dev, libxi-dev, libxkbcommon-dev)")
  endif()
endforeach()

add_library(tarvik_typing_linux STATIC
  ${PROJECT_SOURCE_DIR}/src/wedge/linux/key_sender_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/wedge/linux/key_target_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/wedge/linux/uinput_linux.cpp
  ${PROJECT_SOURCE_DIR}/src/wedge/linux/xkb_plan.cpp
  ${PROJECT_SOURCE_DIR}/src/wedge/linux/xkey_injector.cpp
  ${PROJECT_SOURCE_DIR}/src/wedge/linux/xtest_keyboard_linux.cpp
)
# No Qt here: nothing for moc.
set_target_properties(tarvik_typing_linux PROPERTIES AUTOMOC OFF)
target_link_libraries(tarvik_typing_linux
  PUBLIC tarvik_core
  PRIVATE X11::X11 X11::Xtst X11::Xi X11::xkbcommon)

if(BUILD_TESTING)
  find_package(GTest REQUIRED)
  include(GoogleTest)
  add_executable(tarvik_typing_tests
    ${PROJECT_SOURCE_DIR}/tests/linux/uinput_plan_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/xkb_plan_test.cpp
    ${PROJECT_SOURCE_DIR}/tests/linux/xvfb_typing_test.cpp
  )
  set_target_properties(tarvik_typing_tests PROPERTIES AUTOMOC OFF)
  target_include_directories(tarvik_typing_tests PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(tarvik_typing_tests PRIVATE
    tarvik_typing_linux X11::X11 X11::Xtst X11::xkbcommon GTest::gtest GTest::gtest_main)
  gtest_discover_tests(tarvik_typing_tests PROPERTIES LABELS unit)
endif()
