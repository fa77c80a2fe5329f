# vopa_embed_text(<target> <symbol> <file>): compiles <file> into <target> as the character array
# vopa::embedded::<symbol>, regenerated whenever the file changes.
function(vopa_embed_text target symbol file)
  set(output "${CMAKE_CURRENT_BINARY_DIR}/embedded/${symbol}.cpp")
  add_custom_command(
    OUTPUT "${output}"
    COMMAND ${CMAKE_COMMAND} -DINPUT=${file} -DOUTPUT=${output} -DSYMBOL=${symbol} -P ${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake
    DEPENDS "${file}" "${PROJECT_SOURCE_DIR}/cmake/EmbedText.cmake"
    COMMENT "Embedding ${file}")
  target_sources(${target} PRIVATE "${output}")
endfunction()
