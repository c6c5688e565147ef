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
find_program(MSIINFO msiinfo)
if(NOT WIXL OR NOT MSIBUILD OR NOT MSIINFO)
  message(FATAL_ERROR "Building the MSI needs wixl, msibuild and msiinfo (Debian packages wixl and msitools)")
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

function(run_query what query)
  execute_process(COMMAND ${MSIBUILD} ${partial} -q "${query}" RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "msibuild could not set ${what} in ${partial} (${rc})")
  endif()
endfunction()

# Columns of the row of `table` that matches `pattern` (a regular expression
# of the whole row, its groups the columns wanted), in CMAKE_MATCH_1 and on.
macro(match_row table pattern)
  execute_process(COMMAND ${MSIINFO} export ${partial} ${table} RESULT_VARIABLE rc OUTPUT_VARIABLE text)
  string(REGEX MATCH "(^|\n)${pattern}\r?(\n|$)" found "${text}")
  if(NOT rc EQUAL 0 OR found STREQUAL "")
    message(FATAL_ERROR "No row ${pattern} in the ${table} table of ${partial} (${rc})")
  endif()
  string(REGEX MATCH "${pattern}" found "${found}")
endmacro()

# wixl 0.101 reads no <Condition> in a Component or Feature. The log-on start
# is on when the command line says AUTOSTART=1, off when it gives AUTOSTART
# any other value, and as an installed Tarvik has it (its Run value, found by
# the package's registry search before an upgrade removes the old package)
# when it gives none. The installer evaluates a component's condition at
# every run, the uninstall too, and leaves a component whose condition is
# false where it is: so both conditions also hold while the product is
# removed (REMOVE=ALL, also set when a newer version removes this one), else
# the Run value would outlive the program. Only a transitive component is
# taken away or put back when its condition changes in a repair or a
# reinstall.
set(on "AUTOSTART = \"1\" OR (NOT AUTOSTART AND LOGONSTARTFOUND)")
set(removed "REMOVE ~= \"ALL\"")
set(kComponentTransitive 64)
set(components LogOnStart LogOnStartOff)
set(conditions "${on} OR ${removed}" "NOT (${on}) OR ${removed}")
foreach(pair IN ZIP_LISTS components conditions)
  match_row(Component "${pair_0}\t[^\t]*\t[^\t]*\t([0-9]+)\t.*")
  math(EXPR attributes "${CMAKE_MATCH_1} | ${kComponentTransitive}")
  run_query("the log-on start's condition" "UPDATE `Component` SET `Condition` = '${pair_1}', `Attributes` = ${attributes} WHERE `Component` = '${pair_0}'")
endforeach()
# LogOnStartOff takes the Run value away as it is installed.
set(kLocalMachine 2)
run_query("the table of registry values to remove" "CREATE TABLE `RemoveRegistry` (`RemoveRegistry` CHAR(72) NOT NULL, `Root` SHORT NOT NULL, `Key` CHAR(255) NOT NULL LOCALIZABLE, `Name` CHAR(255) LOCALIZABLE, `Component_` CHAR(72) NOT NULL PRIMARY KEY `RemoveRegistry`)")
run_query("the Run value's removal" "INSERT INTO `RemoveRegistry` (`RemoveRegistry`, `Root`, `Key`, `Name`, `Component_`) VALUES ('LogOnStartRemoved', ${kLocalMachine}, 'Software\\Microsoft\\Windows\\CurrentVersion\\Run', 'Tarvik', 'LogOnStartOff')")

# The same version replaces an installed one as a newer one does; wixl writes
# the upper bound of the upgrade's range as exclusive. The attributes are
# part of the row's key: the row is written anew.
set(kUpgradeMaxInclusive 512)
match_row(Upgrade "([^\t\r\n]*)\t([^\t]*)\t([^\t]*)\t([^\t]*)\t([0-9]+)\t([^\t]*)\tWIX_UPGRADE_DETECTED")
set(columns UpgradeCode VersionMin VersionMax Language Attributes Remove)
set(names "`ActionProperty`")
set(values "'WIX_UPGRADE_DETECTED'")
foreach(i RANGE 0 5)  # empty columns stay out: they are null
  list(GET columns ${i} column)
  math(EXPR group "${i} + 1")
  set(value "${CMAKE_MATCH_${group}}")
  if(column STREQUAL "Attributes")
    math(EXPR value "${value} | ${kUpgradeMaxInclusive}")
    string(APPEND names ", `${column}`")
    string(APPEND values ", ${value}")
  elseif(NOT value STREQUAL "")
    string(APPEND names ", `${column}`")
    string(APPEND values ", '${value}'")
  endif()
endforeach()
run_query("the upgrade's inclusive upper bound" "DELETE FROM `Upgrade` WHERE `ActionProperty` = 'WIX_UPGRADE_DETECTED'")
run_query("the upgrade's inclusive upper bound" "INSERT INTO `Upgrade` (${names}) VALUES (${values})")

# Public properties the installing service takes from a managed install's
# client only when they are listed as secure.
match_row(Property "SecureCustomProperties\t([^\r\n]*)")
run_query("the secure properties" "UPDATE `Property` SET `Value` = '${CMAKE_MATCH_1};AUTOSTART;LOGONSTARTFOUND' WHERE `Property` = 'SecureCustomProperties'")

# wixl leaves the File table's version empty, and Windows Installer then
# treats tarvik.exe as an unversioned file (compared by its hash, never
# by version). The version is the exe's own, from its version resource
# (VS_FIXEDFILEINFO, after its signature 0xFEEF04BD), in the language the
# resource names (US English).
file(READ ${WXS} text)
string(REGEX MATCH "<\\?define ExeFile = \"([^\"]+)\"\\?>" found "${text}")
get_filename_component(folder ${WXS} DIRECTORY)
set(exe "${CMAKE_MATCH_1}")
if(NOT IS_ABSOLUTE "${exe}" AND NOT folder STREQUAL "")
  set(exe "${folder}/${exe}")
endif()
if(found STREQUAL "" OR NOT EXISTS "${exe}")
  message(FATAL_ERROR "No exe named by <?define ExeFile ...?> in ${WXS} (${exe})")
endif()
file(READ "${exe}" bytes HEX)
# The signature, then the structure's version 1.0.
string(FIND "${bytes}" "bd04effe00000100" at)
math(EXPR odd "${at} % 2")
if(at LESS 0 OR odd)
  message(FATAL_ERROR "${exe} has no version resource")
endif()
function(dword at out)  # the little-endian 32-bit word at hex offset `at`
  string(SUBSTRING "${bytes}" ${at} 8 h)
  string(REGEX REPLACE "(..)(..)(..)(..)" "\\4\\3\\2\\1" h "${h}")
  math(EXPR value "0x${h}")
  set(${out} ${value} PARENT_SCOPE)
endfunction()
math(EXPR ms_at "${at} + 16")
math(EXPR ls_at "${at} + 24")
dword(${ms_at} ms)
dword(${ls_at} ls)
math(EXPR major "${ms} >> 16")
math(EXPR minor "${ms} & 65535")
math(EXPR patch "${ls} >> 16")
math(EXPR build "${ls} & 65535")
set(kUsEnglish 1033)
run_query("tarvik.exe's version" "UPDATE `File` SET `Version` = '${major}.${minor}.${patch}.${build}', `Language` = '${kUsEnglish}' WHERE `File` = 'tarvik.exe'")
# A hash is for unversioned files only.
run_query("tarvik.exe's hash" "DELETE FROM `MsiFileHash` WHERE `File_` = 'tarvik.exe'")
file(RENAME ${partial} ${MSI})
if(NOT source STREQUAL WXS)
  file(REMOVE ${source})
endif()
