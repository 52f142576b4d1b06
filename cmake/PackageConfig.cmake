# How other projects find the installed library:
#   CMake:      find_package(utilDebug CONFIG) -> utilDebug::utilDebug
#   pkg-config: pkg-config --cflags --libs utilDebug
# The CMake package locates the tree relative to its own file, so a moved tree
# still works; utilDebug.pc names the install prefix.
include(CMakePackageConfigHelpers)

set(UTILDEBUG_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/utilDebug)

install(EXPORT ${UTILDEBUG_EXPORT_NAME} NAMESPACE utilDebug:: DESTINATION ${UTILDEBUG_CMAKE_DIR}
        COMPONENT Development)
configure_package_config_file(cmake/utilDebugConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfig.cmake INSTALL_DESTINATION ${UTILDEBUG_CMAKE_DIR})
# Any 1.x release can replace the one a caller was built against.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/utilDebugConfigVersion.cmake
        DESTINATION ${UTILDEBUG_CMAKE_DIR} COMPONENT Development)

# utilDebug.pc names the prefix it is installed under (cmake --install
# --prefix included), so that pkg-config recognises /usr/include and the
# system library folder and leaves them out of the flags. A tree moved after
# its install is found with pkg-config --define-prefix.
set(UTILDEBUG_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
set(UTILDEBUG_PC_PREFIX "@UTILDEBUG_INSTALL_PREFIX@")
set(UTILDEBUG_PC_RPATH "@UTILDEBUG_PC_RPATH@")
configure_file(cmake/utilDebug.pc.in ${CMAKE_CURRENT_BINARY_DIR}/utilDebug.pc.in @ONLY)
# Outside /usr, the loader does not look in its library folder: the flags
# then carry it as the program's run path, so that a program built with them
# starts as it is.
install(CODE "
    set(UTILDEBUG_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    set(UTILDEBUG_PC_RPATH \"-Wl,-rpath,\\\${libdir}\")
    if(UTILDEBUG_INSTALL_PREFIX STREQUAL \"/usr\")
        set(UTILDEBUG_PC_RPATH \"\")
    endif()
    configure_file(\"${CMAKE_CURRENT_BINARY_DIR}/utilDebug.pc.in\" \"${CMAKE_CURRENT_BINARY_DIR}/pc/utilDebug.pc\" @ONLY)"
    COMPONENT Development)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pc/utilDebug.pc DESTINATION ${UTILDEBUG_PC_DIR} COMPONENT Development)

# Every doc, beside the README, in the docs/ folder its links name.
install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs FILES_MATCHING PATTERN "*.md")
# The fleet example, which docs/journal.md walks through, where its link leads.
install(FILES examples/fleet.sh DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The lnav format of the log files, where lnav looks for the formats of the
# whole machine (/etc/lnav/formats/*/) when the tree is installed under /usr,
# as the package is; under any other prefix in its etc folder. Decided when
# installing: the Debian package installs with the prefix /usr whatever the
# build's prefix was. A copy goes beside the other data, for "lnav -i".
include(GNUInstallDirs)
install(CODE [[
    if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
        set(UTILDEBUG_LNAV_FORMATS "../etc/lnav/formats/quillpost")
    else()
        set(UTILDEBUG_LNAV_FORMATS "etc/lnav/formats/quillpost")
    endif()
]])
install(FILES share/lnav/quillpost_debug_log.json DESTINATION \${UTILDEBUG_LNAV_FORMATS})
install(FILES share/lnav/quillpost_debug_log.json DESTINATION ${CMAKE_INSTALL_DATADIR}/utildebug/lnav)
