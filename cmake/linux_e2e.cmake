# End-to-end tests of the Linux program: tarvik on a headless X display
# (Xvfb with IceWM as window manager and tray), a fake reader on TCP or on a
# socat pty, and a receiving window that logs every key it gets.
find_package(X11 REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(tarvik_receiver tools/receiver/receiver_linux.cpp)
target_link_libraries(tarvik_receiver PRIVATE X11::X11)
set_target_properties(tarvik_receiver PROPERTIES AUTOMOC OFF)  # plain Xlib, no Qt

# The typing benchmark's yardstick (scripts/bench_typing_linux.py): reader
# lines typed with XTest and nothing else.
if(X11_Xtst_FOUND)
  add_executable(tarvik_xtest_loop tools/xtest_loop/xtest_loop_linux.cpp)
  target_link_libraries(tarvik_xtest_loop PRIVATE X11::X11 X11::Xtst)
  set_target_properties(tarvik_xtest_loop PROPERTIES AUTOMOC OFF)
endif()

# The window the compositor says is activated (tests/e2e_linux/test_sway.py).
if(TARGET tarvik_typing_linux)
  add_executable(tarvik_wayland_target tools/wayland_target/wayland_target_linux.cpp)
  target_link_libraries(tarvik_wayland_target PRIVATE tarvik_typing_linux Qt6::Core)
  set_target_properties(tarvik_wayland_target PROPERTIES AUTOMOC OFF)
endif()

if(BUILD_TESTING AND TARGET tarvik)
  foreach(name program serial rules window portal sway lifecycle lock gnome kde typing checked)
    add_test(NAME e2e_linux_${name}
             COMMAND ${Python3_EXECUTABLE} -m unittest -v test_${name})
    set_tests_properties(e2e_linux_${name} PROPERTIES
      LABELS e2e_linux
      TIMEOUT 300
      # Each test has an X display of its own, but side by side on a small
      # machine their waits and the program's timers would crowd each other.
      RUN_SERIAL TRUE
      ENVIRONMENT "TARVIK_EXE=$<TARGET_FILE:tarvik>;TARVIK_RECEIVER=$<TARGET_FILE:tarvik_receiver>;TARVIK_WAYLAND_TARGET=$<TARGET_FILE:tarvik_wayland_target>;PYTHONDONTWRITEBYTECODE=1;PYTHONPATH=${PROJECT_SOURCE_DIR}/tests/e2e_linux:${PROJECT_SOURCE_DIR}/tools/bench")
  endforeach()
endif()
