# qv_add_module(<name> [OUTPUT_DIRECTORY dir] sources...)
#
# An extension module: a shared library named <name>.dll (the names in URLs
# and the module list stay as the network knows them) that binds its own
# copy of qvcore. Only the contract's exports are visible; everything from
# the static runtime is hidden and bound inside the module (-Bsymbolic), so
# its log, settings and device are its own.
set(QV_UNLOADABLE_OPTIONS $<$<CXX_COMPILER_ID:GNU>:-fno-gnu-unique>)
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
    qv_add_version_info(${name} "${name}, a ${QV_PRODUCT_NAME} module")
    return()
  endif()
  # A template's static data (std::to_string's digits, for one) would be a
  # process-wide unique symbol, which pins the library: it could never be
  # unloaded. qvcore is built the same way.
  target_compile_options(${name} PRIVATE ${QV_UNLOADABLE_OPTIONS})
  # A module is mapped and unmapped on every call: one read-only and one
  # executable segment fewer (-z noseparate-code) saves two mappings and a
  # page fault per call.
  target_link_options(${name} PRIVATE -Wl,--exclude-libs,ALL -Wl,-Bsymbolic -Wl,--gc-sections
                      -Wl,-z,noseparate-code)
  if(NOT QV_SANITIZE)
    # Sanitizer runtimes are resolved from the host program at load time.
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()
endfunction()
