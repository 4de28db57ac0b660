# install_gzipped(FILE DESTINATION): installs FILE (relative to the calling folder) as
# FILE.gz under DESTINATION, compressed as Debian expects: at the best ratio, without a name
# or a time in the header, so that the same source always gives the same bytes.
function(install_gzipped file destination)
  get_filename_component(name ${file} NAME)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/${file})
  set(folder ${CMAKE_CURRENT_BINARY_DIR}/gzipped)
  add_custom_command(OUTPUT ${folder}/${name}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${folder}/${name}
                     COMMAND gzip -9nf ${folder}/${name}
                     DEPENDS ${source}
                     VERBATIM)
  file(RELATIVE_PATH place ${PROJECT_SOURCE_DIR} ${source})
  string(MAKE_C_IDENTIFIER "gzip_${place}" target)
  add_custom_target(${target} ALL DEPENDS ${folder}/${name}.gz)
  install(FILES ${folder}/${name}.gz DESTINATION ${destination})
endfunction()
