# cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P embed_file.cmake
# Writes a C++ source that defines `extern const char SYMBOL[]` (the file's
# bytes plus a terminating NUL) and `extern const unsigned long SYMBOLSize`.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
math(EXPR size "${hex_length} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
string(REGEX REPLACE "(('\\\\x[0-9a-f][0-9a-f]',){16})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}.tmp"
"// Generated from ${INPUT} by embed_file.cmake; do not edit.\n"
"extern const char ${SYMBOL}[];\n"
"extern const unsigned long ${SYMBOL}Size;\n"
"const char ${SYMBOL}[] = {\n    ${bytes}'\\0'};\n"
"const unsigned long ${SYMBOL}Size = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
