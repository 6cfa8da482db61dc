# tarvo_embed_resources(<target> BASE <dir> FILES <file>...)
#
# Embeds files (stored form descriptions, the pictures they name) into <target>. Each file is registered at
# static-initialisation time under its path relative to BASE ("Unit1.form", "pictures/play.jpg"), where
# FindResourceData and ReadComponentResource (rtl/formreader.h) find it. FILES may be given relative to BASE or
# as absolute paths inside it.
#
# The generated source is added to <target>'s own sources, so its registrations are linked whenever <target> is.
# Call it on an executable (or on a library whose objects are linked whole): an unreferenced object inside a static
# library would be dropped by the linker, and its resources with it. Editing an embedded file rebuilds the source.
# Only CMake itself runs at build time.
function(tarvo_embed_resources target)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "BASE" "FILES")
  if(NOT ARG_BASE)
    message(FATAL_ERROR "tarvo_embed_resources(${target}): BASE is required")
  endif()
  if(NOT ARG_FILES)
    message(FATAL_ERROR "tarvo_embed_resources(${target}): FILES is required")
  endif()
  get_filename_component(base "${ARG_BASE}" ABSOLUTE)
  set(paths)
  set(names)
  foreach(f IN LISTS ARG_FILES)
    if(IS_ABSOLUTE "${f}")
      set(path "${f}")
    else()
      set(path "${base}/${f}")
    endif()
    file(RELATIVE_PATH name "${base}" "${path}")
    if(name MATCHES "^\\.\\./")
      message(FATAL_ERROR "tarvo_embed_resources(${target}): ${f} lies outside BASE ${base}")
    endif()
    list(APPEND paths "${path}")
    list(APPEND names "${name}")
  endforeach()
  # A target may embed several folders, one call each; every call writes its own source.
  get_property(calls TARGET ${target} PROPERTY TARVO_RESOURCE_CALLS)
  if(NOT calls)
    set(calls 0)
  endif()
  math(EXPR calls "${calls} + 1")
  set_property(TARGET ${target} PROPERTY TARVO_RESOURCE_CALLS ${calls})
  set(out "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources${calls}.cpp")
  set(manifest "${CMAKE_CURRENT_BINARY_DIR}/${target}_resources${calls}.list")
  # One line per file: name, a tab, path. Rewritten only when it changes, so a new configure rebuilds nothing.
  set(lines "")
  foreach(name path IN ZIP_LISTS names paths)
    string(APPEND lines "${name}\t${path}\n")
  endforeach()
  file(CONFIGURE OUTPUT "${manifest}" CONTENT "${lines}" @ONLY)
  set(script "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/TarvoEmbed.cmake")
  add_custom_command(
    OUTPUT "${out}"
    COMMAND "${CMAKE_COMMAND}" "-DMANIFEST=${manifest}" "-DOUT=${out}" "-DTARGET=${target}" -P "${script}"
    DEPENDS ${paths} "${manifest}" "${script}"
    COMMENT "Embedding resources into ${target}"
    VERBATIM)
  target_sources(${target} PRIVATE "${out}")
endfunction()
