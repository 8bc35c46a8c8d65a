# Writes a C++ source that holds a file's bytes, for compiling a resource into a program:
#
#   cmake -DINPUT=<file> -DOUTPUT=<source> -DSYMBOL=<name> -P EmbedFile.cmake
#
# The source defines `const unsigned char <name>[]` (the bytes and one zero byte more, so that an
# empty file still gives an array) and `const std::size_t <name>Size` (the file's size), both
# with external linkage.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Sixteen bytes a line.
string(REPEAT "0x[0-9a-f][0-9a-f]," 16 line)
string(REGEX REPLACE "(${line})" "\\1\n    " bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}" "// Generated from ${name} by EmbedFile.cmake; do not edit.
#include <cstddef>

extern const unsigned char ${SYMBOL}[] = {
    ${bytes}0x00};
extern const std::size_t ${SYMBOL}Size = ${size};
")
