# cmake -DEXE=mklnk.exe -DOBJDUMP=i686-w64-mingw32-objdump -DDESCRIPTION=... -DVERSION=... -P check-exe.cmake
#
cmake_minimum_required(VERSION 3.25)

# Checks what the shipped Windows executable promises: a console program
# under 200 KB that needs no DLL beyond Windows' own and carries its version
# block.
if(NOT EXE OR NOT OBJDUMP OR NOT DESCRIPTION OR NOT VERSION)
  message(FATAL_ERROR "usage: cmake -DEXE=... -DOBJDUMP=... -DDESCRIPTION=... -DVERSION=... -P check-exe.cmake")
endif()

file(SIZE "${EXE}" size)
if(size GREATER_EQUAL 204800)
  message(FATAL_ERROR "${EXE} is ${size} bytes; the limit is 200 KB")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${EXE}")
endif()
if(NOT headers MATCHES "Subsystem[ \t]+00000003")
  message(FATAL_ERROR "${EXE} is not a console program")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
set(system_dlls kernel32.dll msvcrt.dll ole32.dll oleaut32.dll user32.dll version.dll
    advapi32.dll shell32.dll)
foreach(entry IN LISTS dlls)
  string(REGEX REPLACE "DLL Name: *" "" dll "${entry}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" dll)
  if(NOT dll IN_LIST system_dlls)
    message(FATAL_ERROR "${EXE} imports ${dll}, which Windows does not ship")
  endif()
endforeach()

file(STRINGS "${EXE}" texts ENCODING UTF-16LE)
foreach(wanted "VS_VERSION_INFO" "${DESCRIPTION}" "FileVersion;${VERSION}" "ProductVersion;${VERSION}"
               "OriginalFilename;mklnk.exe")
  string(FIND "${texts}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE} has no version string \"${wanted}\"")
  endif()
endforeach()
string(REPLACE "DLL Name: " "" dlls "${dlls}")
message(STATUS "${EXE}: ${size} bytes; imports ${dlls}")
