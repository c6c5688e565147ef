# The Windows program and the bench's test programs (mingw-w64 or MSVC).
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00
                        TARVIK_VERSION="${PROJECT_VERSION}")
if(MINGW)
  # wmain/wWinMain entry points; mark the exe Terminal-Server-aware as MSVC does.
  add_link_options(-municode -Wl,--tsaware)
elseif(MSVC)
  # The one manifest is the one in tarvik.rc.
  add_link_options(/MANIFEST:NO /TSAWARE)
endif()

add_library(tarvik_win STATIC
  src/core/win/dialogs_win.cpp
  src/core/win/event_pump_win.cpp
  src/core/win/log_files_win.cpp
  src/core/win/message_window_win.cpp
  src/core/win/services_win.cpp
  src/core/win/text_win.cpp
  src/core/win/watched_file_win.cpp
  src/settings/win/settings_store_win.cpp
  src/link/win/client_win.cpp
  src/link/win/discovery_win.cpp
  src/link/win/library_win.cpp
  src/link/win/selection_window_win.cpp
  src/link/win/serial_win.cpp
  src/keys/win/field_reader_win.cpp
  src/keys/win/key_target_win.cpp
  src/keys/win/raw_keys_win.cpp
  src/keys/win/send_keys_win.cpp
  src/keys/win/ui_automation_win.cpp
  src/shell/win/fonts_win.cpp
  src/shell/win/rx_window_win.cpp
  src/shell/win/session_front_win.cpp
  src/shell/win/shell_win.cpp
  src/shell/win/winpath_win.cpp
)
target_link_libraries(tarvik_win PUBLIC tarvik_core user32 gdi32 winmm ws2_32 shell32 ole32 oleaut32 uuid comctl32 imm32 wtsapi32)

enable_language(RC)
# windres reads these through the .rc file; the build does not see that by itself.
set(res ${CMAKE_SOURCE_DIR}/src/shell/win/res)
# The version resource takes the project() version through a header CMake writes.
configure_file(${res}/tarvik_version.h.in ${CMAKE_BINARY_DIR}/generated/tarvik_version.h @ONLY)
set_source_files_properties(${res}/tarvik.rc PROPERTIES OBJECT_DEPENDS
  "${res}/tarvik.ico;${res}/logo.bmp;${res}/exit.bmp;${res}/tarvik.manifest;${res}/resource_ids.h;${CMAKE_BINARY_DIR}/generated/tarvik_version.h")
add_executable(tarvik WIN32 src/shell/win/main_win.cpp src/shell/win/res/tarvik.rc)
target_include_directories(tarvik PRIVATE ${CMAKE_BINARY_DIR}/generated)
target_link_libraries(tarvik PRIVATE tarvik_win)

# Bench programs: not shipped.
add_library(tarvik_bench STATIC tools/common/bench_win.cpp)
target_include_directories(tarvik_bench PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(tarvik_bench PUBLIC tarvik_win)

add_executable(receiver tools/receiver/receiver_win.cpp)
target_link_libraries(receiver PRIVATE tarvik_core user32)
add_executable(wbench tools/wbench/wbench_win.cpp)
target_link_libraries(wbench PRIVATE tarvik_bench ws2_32)
add_executable(typeline tools/typeline/typeline_win.cpp)
target_link_libraries(typeline PRIVATE tarvik_bench)
add_executable(linkdriver tools/linkdriver/linkdriver_win.cpp)
target_link_libraries(linkdriver PRIVATE tarvik_bench)

# The installer for fleets: tarvik-X.Y.Z-x64.msi beside tarvik.exe, made by
# wixl (Debian packages wixl and msitools) from packaging/windows/tarvik.wxs.
set(TARVIK_MSI_DIR ${CMAKE_BINARY_DIR}/msi)
configure_file(packaging/windows/tarvik.wxs ${TARVIK_MSI_DIR}/tarvik.wxs.in @ONLY)
file(GENERATE OUTPUT ${TARVIK_MSI_DIR}/tarvik.wxs INPUT ${TARVIK_MSI_DIR}/tarvik.wxs.in)
configure_file(${res}/tarvik.ico ${TARVIK_MSI_DIR}/tarvik.ico COPYONLY)
set(TARVIK_MSI ${CMAKE_BINARY_DIR}/tarvik-${PROJECT_VERSION}-x64.msi)
add_custom_command(OUTPUT ${TARVIK_MSI}
  COMMAND ${CMAKE_COMMAND} -DWXS=tarvik.wxs -DMSI=${TARVIK_MSI}
          -P ${CMAKE_SOURCE_DIR}/packaging/windows/build_msi.cmake
  DEPENDS tarvik ${TARVIK_MSI_DIR}/tarvik.wxs ${TARVIK_MSI_DIR}/tarvik.ico
          ${CMAKE_SOURCE_DIR}/packaging/windows/build_msi.cmake
  WORKING_DIRECTORY ${TARVIK_MSI_DIR}
  COMMENT "Building tarvik-${PROJECT_VERSION}-x64.msi with wixl"
  VERBATIM)
add_custom_target(tarvik_msi ALL DEPENDS ${TARVIK_MSI})

include(CTest)
if(BUILD_TESTING)
  add_subdirectory(tests/win)
endif()
