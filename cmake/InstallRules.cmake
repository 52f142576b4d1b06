# What `cmake --install` puts where. Installed binaries find the project's
# libraries relative to themselves ($ORIGIN), so an installed tree can be moved
# and no path of the build machine is left in a RUNPATH.
#
# A new library calls utildebug_install_library(target), adding
# LOADED_AT_RUN_TIME for one that is only ever dlopen()ed (no link name, not
# in the CMake package); a new tool calls
# utildebug_install_tool(target MAN page.1 COMPLETION file), as qpreg does in
# tools/qpreg/CMakeLists.txt.

set(UTILDEBUG_EXPORT_NAME utilDebugTargets)

function(utildebug_install_library target)
    cmake_parse_arguments(L "LOADED_AT_RUN_TIME" "" "" ${ARGN})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    if(NOT UTILDEBUG_INSTALL)
        return()
    endif()
    if(L_LOADED_AT_RUN_TIME)
        install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_SKIP)
        return()
    endif()
    install(TARGETS ${target} EXPORT ${UTILDEBUG_EXPORT_NAME}
            LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
            NAMELINK_COMPONENT Development
            PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endfunction()

# MAN: a troff page in the source tree, installed gzipped in its section's
# folder; COMPLETION: a bash completion script, installed under the tool's name.
function(utildebug_install_tool target)
    cmake_parse_arguments(T "" "COMPLETION" "MAN" ${ARGN})
    file(RELATIVE_PATH libFromBin "/${CMAKE_INSTALL_BINDIR}" "/${CMAKE_INSTALL_LIBDIR}")
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN/${libFromBin}")
    if(NOT UTILDEBUG_INSTALL)
        return()
    endif()
    install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    foreach(page IN LISTS T_MAN)
        get_filename_component(pageName ${page} NAME)
        string(REGEX REPLACE ".*\\.([0-9])$" "\\1" section ${pageName})
        set(gzipped ${CMAKE_CURRENT_BINARY_DIR}/${pageName}.gz)
        # -n: no name or time stamp inside, so the package is reproducible.
        add_custom_command(OUTPUT ${gzipped}
            COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" gzip ${CMAKE_CURRENT_SOURCE_DIR}/${page} ${gzipped}
            DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${page} VERBATIM)
        add_custom_target(${target}_man_${section} ALL DEPENDS ${gzipped})
        install(FILES ${gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
    endforeach()
    if(T_COMPLETION)
        install(FILES ${T_COMPLETION} DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
                RENAME ${target})
    endif()
endfunction()
