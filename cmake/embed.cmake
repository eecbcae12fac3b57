# Turns text files into a C++ source that defines one NUL-terminated char
# array holding their contents joined in the given order, a blank line
# between two of them. The joined text is also written to JOINED (default
# <OUT without .cpp>.js), for checks that read the script as pages get it.
# Usage: cmake "-DIN=<file>[|<file>...]" -DOUT=<file.cpp> -DNAME=<symbol>
#              [-DJOINED=<file>] -P embed.cmake
string(REPLACE "|" ";" inputs "${IN}")
if(NOT JOINED)
  string(REGEX REPLACE "\\.cpp$" ".js" JOINED "${OUT}")
endif()
set(text "")
set(first TRUE)
foreach(in IN LISTS inputs)
  file(READ "${in}" part)
  if(NOT first)
    string(APPEND text "\n")
  endif()
  string(APPEND text "${part}")
  set(first FALSE)
endforeach()
file(WRITE "${JOINED}.tmp" "${text}")
file(COPY_FILE "${JOINED}.tmp" "${JOINED}" ONLY_IF_DIFFERENT)
file(REMOVE "${JOINED}.tmp")

file(READ "${JOINED}" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" body "${body}")
list(GET inputs 0 from)
list(LENGTH inputs n)
if(n GREATER 1)
  get_filename_component(from "${from}" DIRECTORY)
endif()
file(WRITE "${OUT}.tmp" "// Generated from ${from}; do not edit.\nextern const char ${NAME}[];\nconst char ${NAME}[] = {\n${body}0x00};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
