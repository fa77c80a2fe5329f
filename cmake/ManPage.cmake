# vopa_manpage(<program> <help source> <component>): the program's manual page, made at build time by
# tools/manpage from the help source the program also embeds for --help, so the two cannot drift;
# compressed as Debian wants it (gzip -9n: no name, no time stamp) to man/<program>.1.gz under the build
# folder, and installed in section 1 with <component>. The target vopa-manpages makes every page.
set(VOPA_RELEASE_DATE "2026-12-07" CACHE STRING "Date of the release, shown in the manual pages")
if(NOT TARGET vopa-manpages)
  add_custom_target(vopa-manpages ALL)
endif()
function(vopa_manpage program source component)
  set(page "${PROJECT_BINARY_DIR}/man/${program}.1")
  add_custom_command(
    OUTPUT "${page}" "${page}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${PROJECT_BINARY_DIR}/man"
    COMMAND make-manpage "${source}" "${page}" "${PROJECT_VERSION}" "${VOPA_RELEASE_DATE}"
    COMMAND gzip -9nkf "${page}"
    DEPENDS make-manpage "${source}"
    COMMENT "Manual page of ${program}")
  add_custom_target(${program}-manpage DEPENDS "${page}.gz")
  add_dependencies(vopa-manpages ${program}-manpage)
  install(FILES "${page}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()
