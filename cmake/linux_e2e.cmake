# End-to-end tests of the Linux program: tarvik on a headless X display
# (Xvfb with IceWM as window manager and tray), a fake reader on TCP or on a
# socat pty, and a receiving window that logs every key it gets.
find_package(X11 REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(tarvik_receiver tools/receiver/receiver_linux.cpp)
target_link_libraries(tarvik_receiver PRIVATE X11::X11)
set_target_properties(tarvik_receiver PROPERTIES AUTOMOC OFF)  # plain Xlib, no Qt

if(BUILD_TESTING AND TARGET tarvik)
  foreach(name program serial rules)
    add_test(NAME e2e_linux_${name}
             COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e_linux/test_${name}.py)
    set_tests_properties(e2e_linux_${name} PROPERTIES
      LABELS e2e_linux
      TIMEOUT 300
      # Each test has an X display of its own, but side by side on a small
      # machine their waits and the program's timers would crowd each other.
      RUN_SERIAL TRUE
      ENVIRONMENT "TARVIK_EXE=$<TARGET_FILE:tarvik>;TARVIK_RECEIVER=$<TARGET_FILE:tarvik_receiver>;PYTHONDONTWRITEBYTECODE=1")
  endforeach()
endif()
