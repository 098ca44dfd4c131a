# Shared libraries the programs load on first use (dlopen) instead of linking, so
# that a run which does not need them does not map and start them.

# The soname of `library` (a file the linker would take), in `var`: the name to
# load it by at run time, the same one a link would record.
function(velmora_soname var library)
    get_filename_component(real "${library}" REALPATH)
    execute_process(COMMAND objdump -p "${real}" OUTPUT_VARIABLE dynamic RESULT_VARIABLE failed)
    if(failed OR NOT dynamic MATCHES "SONAME +([^\n ]+)")
        message(FATAL_ERROR "no soname found in ${real}")
    endif()
    set(${var} "${CMAKE_MATCH_1}" PARENT_SCOPE)
endfunction()

# The Debian packages of the libraries in the global property
# VELMORA_LOADED_LIBRARIES, as a Depends list in `var`: dpkg-shlibdeps sees only
# the libraries linked, not those loaded.
function(velmora_loaded_library_packages var)
    get_property(libraries GLOBAL PROPERTY VELMORA_LOADED_LIBRARIES)
    set(packages "")
    foreach(library IN LISTS libraries)
        get_filename_component(real "${library}" REALPATH)
        execute_process(COMMAND dpkg-query -S "${real}" OUTPUT_VARIABLE owner
                        RESULT_VARIABLE failed ERROR_QUIET)
        if(failed OR NOT owner MATCHES "^([^:, ]+)")
            message(FATAL_ERROR "no Debian package holds ${real}")
        endif()
        list(APPEND packages "${CMAKE_MATCH_1}")
    endforeach()
    list(JOIN packages ", " joined)
    set(${var} "${joined}" PARENT_SCOPE)
endfunction()
