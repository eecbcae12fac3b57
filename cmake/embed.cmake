# Turns a text file into a C++ source that defines one NUL-terminated char array.
# Usage: cmake -DIN=<file> -DOUT=<file.cpp> -DNAME=<symbol> -P embed.cmake
file(READ "${IN}" hex HEX)
string(LENGTH "${hex}" n)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" body "${body}")
file(WRITE "${OUT}.tmp" "// Generated from ${IN}; do not edit.\nextern const char ${NAME}[];\nconst char ${NAME}[] = {\n${body}0x00};\n")
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
