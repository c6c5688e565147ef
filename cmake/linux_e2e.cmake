# End-to-end tests of the Linux program: tarvik on a headless X display
# (Xvfb with IceWM as window manager and tray), a fake reader on TCP or on a
# socat pty, and a receiving window that logs every key it gets.
find_package(X11 REQUIRED)
find_package(Python3 REQUIRED COMPONENTS Interpreter)

add_executable(tarvik_receiver tools/receiver/receiver_linux.cpp)
target_link_libraries(tarvik_receiver PRIVATE X11::X11)
set_target_properties(tarvik_receiver PROPERTIES AUTOMOC OFF)  # plain Xlib, no Qt
