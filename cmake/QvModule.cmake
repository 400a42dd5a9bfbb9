# qv_add_module(<name> [OUTPUT_DIRECTORY dir] sources...)
#
# An extension module: a shared library named <name>.dll (the names in URLs
# and the module list stay as the network knows them) that binds its own
# copy of qvcore. Only the contract's exports are visible; everything from
# the static runtime is hidden and bound inside the module (-Bsymbolic), so
# its log, settings and device are its own.
function(qv_add_module name)
  cmake_parse_arguments(MODULE "" "OUTPUT_DIRECTORY" "" ${ARGN})
  add_library(${name} SHARED ${MODULE_UNPARSED_ARGUMENTS})
  set_target_properties(${name} PROPERTIES
    PREFIX ""
    SUFFIX ".dll"
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  if(MODULE_OUTPUT_DIRECTORY)
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${MODULE_OUTPUT_DIRECTORY})
  endif()
  target_link_libraries(${name} PRIVATE qvcore)
  if(WIN32)
    # A DLL exports only what is marked __declspec(dllexport) (the contract's
    # five) and binds its own copy of everything else already; no import
    # library is wanted.
    set_target_properties(${name} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".dll.a")
    if(MODULE_OUTPUT_DIRECTORY)
      set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${MODULE_OUTPUT_DIRECTORY})
    endif()
    target_link_options(${name} PRIVATE -Wl,--gc-sections)
    return()
  endif()
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL -Wl,-Bsymbolic -Wl,--gc-sections)
  if(NOT QV_SANITIZE)
    # Sanitizer runtimes are resolved from the host program at load time.
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
