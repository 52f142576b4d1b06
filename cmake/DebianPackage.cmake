# make package: one Debian package with the libraries, the header, the tools,
# their man pages and the docs, installed under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME utildebug)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "libutilDebug.so, the debug log of the Quillpost server's processes, \
with libnlplatform.so, its platform layer, the header utilDebug.h and qpreg, the registry editor.")
set(CPACK_PACKAGE_CONTACT "Norlake Quillpost developers <quillpost-dev@norlake.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
# The runtime packages of Debian's log4cxx and SQLite, at least the versions
# built against.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "liblog4cxx15 (>= 1.0.0), libsqlite3-0 (>= 3.40), libsystemd0, libc6, libstdc++6")
# libnlclusapi.so is loaded only when a process opens a cluster; without
# Pacemaker's client libraries that call fails and nothing else does.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libcib27, libcrmcommon34, libxml2")
# Stripped, as Debian ships binaries.
set(CPACK_STRIP_FILES ON)
include(CPack)
