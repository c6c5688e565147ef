# Builds the MSI from the configured tarvik.wxs with wixl, then sets what wixl
# cannot express. Run as a script, from the folder that holds tarvik.wxs and
# tarvik.ico (wixl takes a source file's path as written in the .wxs, and
# names the icon after it, so both are plain names there):
#   cmake -DWXS=tarvik.wxs -DMSI=out.msi [-DVERSION=x.y.z] -P build_msi.cmake
# VERSION replaces the configured version: the end-to-end test builds a newer
# package from the same source with it.
cmake_minimum_required(VERSION 3.25)
foreach(var WXS MSI)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "build_msi.cmake: -D${var}=... is missing")
  endif()
endforeach()
find_program(WIXL wixl)
find_program(MSIBUILD msibuild)
if(NOT WIXL OR NOT MSIBUILD)
  message(FATAL_ERROR "Building the MSI needs wixl and msibuild (Debian packages wixl and msitools)")
endif()

set(source ${WXS})
if(DEFINED VERSION)
  file(READ ${WXS} text)
  string(REGEX REPLACE "<\\?define Version = \"[^\"]*\"\\?>" "<?define Version = \"${VERSION}\"?>"
         changed "${text}")
  if(changed STREQUAL text)
    message(FATAL_ERROR "No <?define Version = ...?> line in ${WXS} to replace")
  endif()
  get_filename_component(folder ${WXS} DIRECTORY)
  set(source ${folder}/tarvik-${VERSION}.wxs)
  if(folder STREQUAL "")
    set(source tarvik-${VERSION}.wxs)
  endif()
  file(WRITE ${source} "${changed}")
endif()

set(partial ${MSI}.partial)
file(REMOVE ${partial})
execute_process(COMMAND ${WIXL} -a x64 -o ${partial} ${source} RESULT_VARIABLE rc)
if(NOT rc EQUAL 0 OR NOT EXISTS ${partial})
  message(FATAL_ERROR "wixl could not build ${MSI} from ${source} (${rc})")
endif()

# wixl 0.101 reads no <Condition> in a Component or Feature: the log-on start
# is installed only when the command line says AUTOSTART=1. The installer
# evaluates a component's condition at every run, the uninstall too, and
# leaves a component whose condition is false where it is: so the condition
# also holds while the product is removed (REMOVE=ALL, also set when a newer
# version removes this one), else the Run value would outlive the program.
set(query "UPDATE `Component` SET `Condition` = 'AUTOSTART = \"1\" OR REMOVE ~= \"ALL\"' WHERE `Component` = 'LogOnStart'")
execute_process(COMMAND ${MSIBUILD} ${partial} -q "${query}" RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "msibuild could not set the log-on start's condition in ${partial} (${rc})")
endif()
file(RENAME ${partial} ${MSI})
if(NOT source STREQUAL WXS)
  file(REMOVE ${source})
endif()
