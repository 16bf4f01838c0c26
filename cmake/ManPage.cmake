include(GNUInstallDirs)

# mbx_install_man_page(target page.N): installs the troff page, gzip-compressed where gzip is at
# hand (as Debian installs manuals), into the section its file name ends in.
function(mbx_install_man_page target source)
  get_filename_component(name ${source} NAME)
  string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${name})
  find_program(MBX_GZIP gzip)
  if(MBX_GZIP)
    set(packed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
    add_custom_command(OUTPUT ${packed}
      COMMAND ${MBX_GZIP} -9n -c ${CMAKE_CURRENT_SOURCE_DIR}/${source} > ${packed}
      DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${source} VERBATIM)
    add_custom_target(${target}-man ALL DEPENDS ${packed})
    install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  else()
    install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
  endif()
endfunction()
