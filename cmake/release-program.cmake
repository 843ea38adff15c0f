# Every program the release ships is declared with add_release_program: it
# joins the global list PALETTE_RELEASE_PROGRAMS, which the package, its
# install rules and the release tests read (packaging/CMakeLists.txt, added
# after every directory that declares programs). On Windows it also gets a
# version resource and an application manifest of its own.
function(add_release_program target description)
  set_property(GLOBAL APPEND PROPERTY PALETTE_RELEASE_PROGRAMS ${target})
  if(NOT WIN32)
    return()
  endif()
  set(program_name ${target})
  set(program_description "${description}")
  set(resource_dir ${CMAKE_CURRENT_BINARY_DIR}/${target}-resources)
  set(program_manifest ${resource_dir}/${target}.exe.manifest)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.manifest.in ${program_manifest} @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/program.rc.in ${resource_dir}/${target}.rc @ONLY)
  target_sources(${target} PRIVATE ${resource_dir}/${target}.rc)
  # The resource compiler reads the manifest; a change to it rebuilds.
  set_source_files_properties(${resource_dir}/${target}.rc PROPERTIES
    OBJECT_DEPENDS ${program_manifest})
  if(MSVC)
    # Ours is the one manifest; the linker would add a second one.
    target_link_options(${target} PRIVATE /MANIFEST:NO)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION .)
endfunction()
