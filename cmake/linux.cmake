# The Linux program tarvik: the portable core with Qt 6 Widgets, Qt Bluetooth,
# Qt Serial Port, Qt Network and X11 twins.
set(CMAKE_AUTOMOC ON)
find_package(Qt6 REQUIRED COMPONENTS Core Widgets Network DBus Bluetooth SerialPort)

# Links to the reader (Bluetooth RFCOMM, serial ports, TCP).
include(${CMAKE_CURRENT_LIST_DIR}/linux_links.cmake OPTIONAL)
# Typing (XTest with the XKB layout, /dev/uinput).
include(${CMAKE_CURRENT_LIST_DIR}/linux_typing.cmake OPTIONAL)
