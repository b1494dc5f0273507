# What `cmake --install` puts under the prefix, in the GNUInstallDirs
# places: the library with its SONAME, the header, kvxscan, the font
# databases, the udev rule, a pkg-config file and a CMake package
# (find_package(KovranMS) -> KovranMS::KovranMS); then, on a system install,
# the shared configuration directory (shared_config_dir.cmake).
include(CMakePackageConfigHelpers)

set(KOVRAN_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
  "udev rules folder, relative to the prefix (udev reads /usr/lib and /usr/local/lib)")
set(KOVRAN_SYSTEM_INSTALL "AUTO" CACHE STRING
  "Make the shared configuration directory at install: AUTO (prefix /usr or /usr/local), ON, OFF")
set_property(CACHE KOVRAN_SYSTEM_INSTALL PROPERTY STRINGS AUTO ON OFF)
set(KOVRAN_SHARED_CONFIG_DIR "/var/lib/Kovran/V3r" CACHE PATH
  "The configuration directory a system install makes for the scanner group")
set(KOVRAN_SCANNER_GROUP "scanner" CACHE STRING "The group of the scanner users")
set(_cmake_dir "${CMAKE_INSTALL_LIBDIR}/cmake/KovranMS")
set(_pc_dir "${CMAKE_INSTALL_LIBDIR}/pkgconfig")

install(TARGETS KovranMS EXPORT KovranMSTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/KovranMS.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS kvxscan RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/data/udev/60-kovran-scanners.rules
  DESTINATION ${KOVRAN_UDEV_RULES_DIR})

install(EXPORT KovranMSTargets NAMESPACE KovranMS:: DESTINATION ${_cmake_dir})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/KovranMSConfig.cmake.in
  ${CMAKE_BINARY_DIR}/KovranMSConfig.cmake
  INSTALL_DESTINATION ${_cmake_dir}
  PATH_VARS KOVRAN_INSTALL_FONTDB_DIR)
# The SONAME changes with the major version only.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KovranMSConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/KovranMSConfig.cmake
  ${CMAKE_BINARY_DIR}/KovranMSConfigVersion.cmake DESTINATION ${_cmake_dir})

# The pkg-config file names its folders relative to itself, so that the
# tree works under any prefix given at install time (--prefix, DESTDIR).
file(RELATIVE_PATH _pc_to_prefix "/prefix/${_pc_dir}" "/prefix")
set(KOVRAN_PC_PREFIX "\${pcfiledir}/${_pc_to_prefix}")
string(REGEX REPLACE "/$" "" KOVRAN_PC_PREFIX "${KOVRAN_PC_PREFIX}")
set(KOVRAN_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
set(KOVRAN_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
set(KOVRAN_PC_FONTDBDIR "\${prefix}/${KOVRAN_INSTALL_FONTDB_DIR}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/kovranms.pc.in ${CMAKE_BINARY_DIR}/kovranms.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/kovranms.pc DESTINATION ${_pc_dir})

# Last, once everything else is in place.
install(CODE "
  set(KOVRAN_SYSTEM_INSTALL \"${KOVRAN_SYSTEM_INSTALL}\")
  set(KOVRAN_SHARED_CONFIG_DIR \"${KOVRAN_SHARED_CONFIG_DIR}\")
  set(KOVRAN_SCANNER_GROUP \"${KOVRAN_SCANNER_GROUP}\")
  set(KOVRAN_FONTDB_INSTALLED_DIR \"\${CMAKE_INSTALL_PREFIX}/${KOVRAN_INSTALL_FONTDB_DIR}\")
  set(KOVRAN_REFRESH_SYSTEM ON)
  include(\"${CMAKE_CURRENT_LIST_DIR}/shared_config_dir.cmake\")")
