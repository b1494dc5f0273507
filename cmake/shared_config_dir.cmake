# Run by `cmake --install` (and by its test with -P): on a system install,
# makes the configuration directory that every user of the scanner shares
# (calibration files, the device register file with its counters, the log)
# for the scanner group, and links the font databases into it, where the
# library looks for them by default.
#
# Inputs: CMAKE_INSTALL_PREFIX, KOVRAN_SYSTEM_INSTALL (AUTO: on for the
# prefixes /usr and /usr/local, ON, OFF), KOVRAN_SHARED_CONFIG_DIR,
# KOVRAN_SCANNER_GROUP, KOVRAN_FONTDB_INSTALLED_DIR (absolute) and
# KOVRAN_REFRESH_SYSTEM (run ldconfig and reload the udev rules).
#
# A staged install (DESTDIR) or one without root leaves the machine alone
# and says what to do instead: the directory is the machine's, not the
# prefix's.

set(_dir "${KOVRAN_SHARED_CONFIG_DIR}")
set(_group "${KOVRAN_SCANNER_GROUP}")
set(_howto "make it with: install -d -m 2775 -g ${_group} ${_dir}")

set(_system "${KOVRAN_SYSTEM_INSTALL}")
if(_system STREQUAL "AUTO")
  get_filename_component(_prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
  if(_prefix STREQUAL "/usr" OR _prefix STREQUAL "/usr/local")
    set(_system ON)
  else()
    set(_system OFF)
  endif()
endif()
if(NOT _system)
  message(STATUS "Shared configuration directory: skipped, not a system install "
    "(prefix ${CMAKE_INSTALL_PREFIX}; -DKOVRAN_SYSTEM_INSTALL=ON forces it)")
  return()
endif()
if(NOT "$ENV{DESTDIR}" STREQUAL "")
  message(STATUS "Shared configuration directory: skipped, staged install "
    "(DESTDIR=$ENV{DESTDIR}); on the target machine ${_howto}")
  return()
endif()
execute_process(COMMAND id -u OUTPUT_VARIABLE _uid OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT _uid STREQUAL "0")
  message(STATUS "Shared configuration directory: skipped, not root; ${_howto}")
  return()
endif()

execute_process(COMMAND getent group "${_group}" RESULT_VARIABLE _missing OUTPUT_QUIET)
if(_missing)
  execute_process(COMMAND groupadd --system "${_group}" RESULT_VARIABLE _failed)
  if(_failed)
    message(WARNING "Shared configuration directory: group ${_group} missing and "
      "groupadd failed; ${_howto}")
    return()
  endif()
  message(STATUS "Created the system group ${_group}")
endif()

get_filename_component(_parent "${_dir}" DIRECTORY)
file(MAKE_DIRECTORY "${_dir}")
file(CHMOD "${_parent}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
# Files made before (by root, or by a single user) join the group too.
execute_process(COMMAND chgrp -R "${_group}" "${_dir}" RESULT_VARIABLE _failed)
if(_failed)
  message(WARNING "Shared configuration directory: chgrp ${_group} ${_dir} failed")
  return()
endif()
execute_process(COMMAND chmod -R g+rwX "${_dir}")
# Set-group-id: what a member creates belongs to the group, not to the
# member's own group.
file(CHMOD "${_dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_WRITE
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE SETGID)
# A default ACL keeps new files group-writable whatever a member's umask, so
# that the next member can still append to the log or rewrite a file.
find_program(_setfacl setfacl)
if(_setfacl)
  execute_process(COMMAND "${_setfacl}" -d -m "g:${_group}:rwX" "${_dir}" RESULT_VARIABLE _failed
    ERROR_QUIET)
endif()
if(NOT _setfacl OR _failed)
  message(STATUS "Shared configuration directory: no default ACL (setfacl missing or "
    "refused); files keep the group, their write bit follows each user's umask")
endif()

# The library reads its font databases from the configuration directory
# unless the ini names another ("OCR"/"DBDir"); a database already there
# (a customised one) is kept.
file(GLOB _dbs "${KOVRAN_FONTDB_INSTALLED_DIR}/*.db")
foreach(_db ${_dbs})
  get_filename_component(_name "${_db}" NAME)
  if(NOT EXISTS "${_dir}/${_name}" AND NOT IS_SYMLINK "${_dir}/${_name}")
    file(CREATE_LINK "${_db}" "${_dir}/${_name}" SYMBOLIC)
  endif()
endforeach()
message(STATUS "Shared configuration directory: ${_dir} (group ${_group}, set-group-id, "
  "group-writable)")

if(KOVRAN_REFRESH_SYSTEM)
  find_program(_ldconfig ldconfig PATHS /sbin /usr/sbin)
  if(_ldconfig)
    execute_process(COMMAND "${_ldconfig}")
  endif()
  find_program(_udevadm udevadm PATHS /sbin /usr/sbin /bin /usr/bin)
  if(_udevadm)
    execute_process(COMMAND "${_udevadm}" control --reload-rules ERROR_QUIET)
  endif()
endif()
