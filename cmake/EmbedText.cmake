# Writes a C++ source that holds a text file as a character array:
#   cmake -DINPUT=file -DOUTPUT=file.cpp -DSYMBOL=name -P EmbedText.cmake
file(READ "${INPUT}" content)
file(WRITE "${OUTPUT}"
  "// Generated from ${INPUT}; do not edit.\n"
  "namespace vopa::embedded {\n"
  "extern const char ${SYMBOL}[];\n"
  "const char ${SYMBOL}[] = R\"vopa_embedded(${content})vopa_embedded\";\n"
  "}\n")
