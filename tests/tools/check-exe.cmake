# cmake -DEXE=mklnk.exe -DOBJDUMP=i686-w64-mingw32-objdump -DDESCRIPTION=... -DVERSION=1.00.0002 \
#       -DNUMBERS=1.0.0.2 -DLICENSE=.../LICENSE -P check-exe.cmake
#
cmake_minimum_required(VERSION 3.25)

# Checks what the shipped Windows executable promises: a console program
# within its size budget that needs no DLL beyond Windows' own, loads at a
# random address and carries its version block, whose copyright is the
# licence's.
if(NOT EXE OR NOT OBJDUMP OR NOT DESCRIPTION OR NOT VERSION OR NOT NUMBERS OR NOT LICENSE)
  message(FATAL_ERROR "usage: cmake -DEXE=... -DOBJDUMP=... -DDESCRIPTION=... -DVERSION=... -DNUMBERS=... -DLICENSE=... -P check-exe.cmake")
endif()

execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE headers RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} failed on ${EXE}")
endif()

# The budgets: 312 KB for the 32-bit product, which the build meets with
# 315,392 bytes; the 64-bit one (292,352 bytes) within 288 KB.  They were
# 140 KB and 112 KB before the modes that read, edit and list links, about
# 170 KB together: the read mode (/READ, /JSON, /COMMAND: the .lnk reader
# that splits a file into its sections, the views of their fields, the
# property store's reader, the three outputs and the known folders' names;
# about 100 KB), the edit mode (/EDIT: the editor that changes a link's
# sections in place, the walk down folders, the new target's link read
# back, the store's paths rewritten), the AppUserModelID (/APPID: the
# store's edit, the saved file given the ID where the system's link object
# keeps none), lists of links (/FROM: the list reader, its held output and
# progress line, the files put in place in groups, the platform's reading
# and flushing calls; about 16 KB) and the checks of the paths a link can
# hold (6 KB).  They were 100 KB and 79 KB before links were made under a
# temporary name and
# renamed into place (10 KB: the folder calls, the listing in any letter
# case, the flush), before the options that say what else a link holds
# (17 KB: the option reader, 11 KB of it, and the link object's new
# properties) and before links for another machine (8 KB: the item list
# of a target that is not here, environment variables).  A larger
# executable means something new was linked in; the linker's map
# (-Wl,-Map=...) tells what and why: the library's logic errors, say,
# whose text brings in a second string implementation of 90 KB.
if(headers MATCHES "Magic[ \t]+010b")
  set(bits 32)
  set(budget_kb 312)
elseif(headers MATCHES "Magic[ \t]+020b")
  set(bits 64)
  set(budget_kb 288)
else()
  message(FATAL_ERROR "${EXE} is neither a 32-bit nor a 64-bit Windows executable")
endif()
file(SIZE "${EXE}" size)
math(EXPR budget "${budget_kb} * 1024")
if(size GREATER budget)
  message(FATAL_ERROR "${EXE} is ${size} bytes; the limit is ${budget_kb} KB (${budget} bytes)")
endif()

# Address space layout randomisation: the flag, and the relocations that let
# the loader move the image; the 64-bit one also anywhere in its range.
if(NOT headers MATCHES "DYNAMIC_BASE" OR NOT headers MATCHES "Base Relocation Directory \\[\\.reloc\\]")
  message(FATAL_ERROR "${EXE} cannot be loaded at a random address")
endif()
if(bits EQUAL 64 AND NOT headers MATCHES "HIGH_ENTROPY_VA")
  message(FATAL_ERROR "${EXE} is not marked for high-entropy addresses")
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

file(STRINGS "${LICENSE}" copyright REGEX "^Copyright " LIMIT_COUNT 1)
file(STRINGS "${EXE}" texts ENCODING UTF-16LE)
foreach(wanted "VS_VERSION_INFO" "${DESCRIPTION}" "FileVersion;${VERSION}" "ProductVersion;${VERSION}"
               "OriginalFilename;mklnk.exe" "LegalCopyright;${copyright}")
  string(FIND "${texts}" "${wanted}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${EXE} has no version string \"${wanted}\"")
  endif()
endforeach()
# The fixed part of the version block (VS_FIXEDFILEINFO, after its signature
# 0xFEEF04BD): the file and product versions as numbers (NUMBERS, "1.0.0.2"),
# and a 32-bit Windows (VOS__WINDOWS32, 4) application (VFT_APP, 1).
function(le32 value out)  # a 32-bit number as the file holds it, in hex
  math(EXPR value "${value}")
  set(bytes "")
  foreach(shift 0 8 16 24)
    math(EXPR byte "(${value} >> ${shift}) & 255" OUTPUT_FORMAT HEXADECIMAL)
    string(SUBSTRING "${byte}" 2 -1 byte)
    string(LENGTH "${byte}" n)
    if(n EQUAL 1)
      set(byte "0${byte}")
    endif()
    string(APPEND bytes "${byte}")
  endforeach()
  set(${out} "${bytes}" PARENT_SCOPE)
endfunction()
string(REPLACE "." ";" parts "${NUMBERS}")
list(GET parts 0 major)
list(GET parts 1 minor)
list(GET parts 2 patch)
list(GET parts 3 tweak)
le32("(${major} << 16) | ${minor}" ms)
le32("(${patch} << 16) | ${tweak}" ls)
le32(4 os)
le32(1 type)
file(READ "${EXE}" hex HEX)
string(FIND "${hex}" "bd04effe" at)
if(at EQUAL -1)
  message(FATAL_ERROR "${EXE} has no fixed version information")
endif()
string(SUBSTRING "${hex}" ${at} 80 fixed)
string(REGEX REPLACE "^bd04effe........(........)(........)(........)(........)................(........)(........)$"
       "\\1 \\2 \\3 \\4 \\5 \\6" fields "${fixed}")
if(NOT fields STREQUAL "${ms} ${ls} ${ms} ${ls} ${os} ${type}")
  message(FATAL_ERROR "${EXE}: fixed version information ${fields}, expected ${ms} ${ls} ${ms} ${ls} ${os} ${type} "
                      "(version ${NUMBERS}, VOS__WINDOWS32, VFT_APP)")
endif()

string(REPLACE "DLL Name: " "" dlls "${dlls}")
message(STATUS "${EXE}: ${bits}-bit, ${size} bytes of ${budget}; imports ${dlls}")
