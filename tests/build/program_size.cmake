cmake_minimum_required(VERSION 3.20)
# Checks the shipped program: at most LIMIT bytes, and importing system DLLs only (a runtime DLL
# of the compiler would be missing on the machines it runs on).
# cmake -DPROGRAM=path -DOBJDUMP=path -DLIMIT=bytes -P program_size.cmake
if(NOT EXISTS "${PROGRAM}")
  message(FATAL_ERROR "${PROGRAM} is not built (scripts/build.sh builds both architectures)")
endif()
file(SIZE "${PROGRAM}" size)
math(EXPR kib "${size} / 1024")
if(size GREATER LIMIT)
  message(FATAL_ERROR "${PROGRAM} is ${size} bytes (${kib} KiB), over the limit of ${LIMIT}; "
                      "see the size options in CMakeLists.txt")
endif()
message(STATUS "${PROGRAM}: ${size} bytes (${kib} KiB), limit ${LIMIT}")

execute_process(COMMAND "${OBJDUMP}" -p "${PROGRAM}" OUTPUT_VARIABLE headers RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${PROGRAM}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" imports "${headers}")
if(NOT imports)
  message(FATAL_ERROR "no import table found in ${PROGRAM}")
endif()
# The DLLs of every Windows the program supports.
set(system_dlls advapi32 comctl32 comdlg32 gdi32 kernel32 msvcrt ole32 oleaut32 psapi shell32
    shlwapi user32 uxtheme version)
foreach(entry ${imports})
  string(REGEX REPLACE "^DLL Name: *" "" dll "${entry}")
  string(TOLOWER "${dll}" lower)
  string(REGEX REPLACE "\\.dll$" "" lower "${lower}")
  if(NOT lower IN_LIST system_dlls)
    message(FATAL_ERROR "${PROGRAM} imports ${dll}, which is no system DLL")
  endif()
  message(STATUS "imports ${dll}")
endforeach()
