# Installation and the Debian package.
#
# `cmake --install` (any prefix, any DESTDIR) installs:
#   bin/sweeprun                      mode 0555: system mode refuses a writable tool
#   bin/sweeply                       the companion command, when it is built
#   share/man/man{1,5,8}/*.gz         the manual pages
#   share/doc/sweeprun/               README.md, examples/sweeprun.plist, launchd/*.plist
#   lib/systemd/{system,user}/        sweeprun.service and sweeprun.timer
#   <state>/                          mode 0700, the example configuration's database folder
#   <etc>/logrotate.d/sweeprun        the rotation of the system-mode run log
# <state> is /var/lib/sweeprun for the prefixes /usr and /usr/local, else
# <prefix>/var/lib/sweeprun; SWEEPRUN_STATE_DIR overrides it. <etc> is /etc
# for the same two prefixes (logrotate reads nowhere else), else <prefix>/etc.
#
# /etc/sweeprun.plist is never installed: it belongs to the administrator,
# must be root-owned with mode 0600, and is never to be overwritten. The
# package's one conffile is the logrotate file.
#
# The units, the launchd property lists and the example configuration name
# the installed tool and the state folder. Both are known only at install
# time (`cmake --install --prefix` may change the prefix), so those files
# are written then.

include(GNUInstallDirs)

set(SWEEPRUN_STATE_DIR "" CACHE PATH
    "Folder of the system-mode folder database (empty: chosen from the install prefix)")

set(_sweeprun_packaging ${CMAKE_SOURCE_DIR}/packaging)
set(_sweeprun_read_execute
    OWNER_READ OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS sweeprun RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PERMISSIONS ${_sweeprun_read_execute})

# The companion command is added to the build by its own helper lines,
# possibly after this file is read: install it once the top level is done.
function(_sweeprun_install_companion)
  if(TARGET sweeply)
    install(TARGETS sweeply RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _sweeprun_install_companion)

# Manual pages, compressed as Debian installs them (-n: reproducible).
find_program(SWEEPRUN_GZIP gzip REQUIRED)
set(_sweeprun_man_pages sweeprun.8 sweeprun.plist.5 sweeply.1)
set(_sweeprun_man_outputs)
foreach(page IN LISTS _sweeprun_man_pages)
  set(source ${_sweeprun_packaging}/man/${page})
  set(output ${CMAKE_BINARY_DIR}/man/${page}.gz)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND sh -c "\"$1\" -9 -n -c \"$2\" > \"$3\"" sh ${SWEEPRUN_GZIP} ${source} ${output}
    DEPENDS ${source}
    COMMENT "Compressing ${page}"
    VERBATIM)
  list(APPEND _sweeprun_man_outputs ${output})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${output} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()
add_custom_target(sweeprun_man_pages ALL DEPENDS ${_sweeprun_man_outputs})

install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

# What a Debian package carries besides the program: the copyright file, the
# changelog (compressed, as Debian installs it) and the overrides that say
# why two modes are not the usual ones.
set(_sweeprun_changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(
  OUTPUT ${_sweeprun_changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND sh -c "\"$1\" -9 -n -c \"$2\" > \"$3\"" sh ${SWEEPRUN_GZIP}
          ${_sweeprun_packaging}/debian/changelog ${_sweeprun_changelog}
  DEPENDS ${_sweeprun_packaging}/debian/changelog
  COMMENT "Compressing the changelog"
  VERBATIM)
add_custom_target(sweeprun_changelog ALL DEPENDS ${_sweeprun_changelog})
install(FILES ${_sweeprun_packaging}/debian/copyright ${_sweeprun_changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${_sweeprun_packaging}/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME sweeprun)

# Written at install time, with the prefix of that install.
set(_sweeprun_install_time_code [==[
  set(prefix "${CMAKE_INSTALL_PREFIX}")
  set(packaging "@_sweeprun_packaging@")
  macro(sweeprun_full_path out relative)
    if(IS_ABSOLUTE "${relative}")
      set(${out} "${relative}")
    else()
      set(${out} "${prefix}/${relative}")
    endif()
  endmacro()
  sweeprun_full_path(bindir "@CMAKE_INSTALL_BINDIR@")
  sweeprun_full_path(docdir "@CMAKE_INSTALL_DOCDIR@")
  sweeprun_full_path(libdir "lib")
  set(SWEEPRUN_BINARY "${bindir}/sweeprun")
  if(prefix STREQUAL "/usr" OR prefix STREQUAL "/usr/local")
    set(sysconfdir "/etc")
  else()
    set(sysconfdir "${prefix}/etc")
  endif()
  set(state "@SWEEPRUN_STATE_DIR@")
  if(state STREQUAL "")
    if(prefix STREQUAL "/usr" OR prefix STREQUAL "/usr/local")
      set(state "/var/lib/sweeprun")
    else()
      set(state "${prefix}/var/lib/sweeprun")
    endif()
  endif()

  # DESTDIR stages the files below another root, as file(INSTALL) does.
  function(sweeprun_staged out path)
    if(DEFINED ENV{DESTDIR} AND NOT "$ENV{DESTDIR}" STREQUAL "")
      set(path "$ENV{DESTDIR}${path}")
    endif()
    set(${out} "${path}" PARENT_SCOPE)
  endfunction()

  # Copies |source| to |directory|/|name| with @SWEEPRUN_BINARY@ filled in.
  function(sweeprun_install_configured source directory name)
    sweeprun_staged(target "${directory}/${name}")
    message(STATUS "Installing: ${target}")
    configure_file("${packaging}/${source}" "${target}" @ONLY)
    file(CHMOD "${target}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
    list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${target}")
    set(CMAKE_INSTALL_MANIFEST_FILES "${CMAKE_INSTALL_MANIFEST_FILES}" PARENT_SCOPE)
  endfunction()

  sweeprun_install_configured(systemd/sweeprun.service "${libdir}/systemd/system" sweeprun.service)
  sweeprun_install_configured(systemd/sweeprun.timer "${libdir}/systemd/system" sweeprun.timer)
  sweeprun_install_configured(systemd/user/sweeprun.service "${libdir}/systemd/user" sweeprun.service)
  sweeprun_install_configured(systemd/user/sweeprun.timer "${libdir}/systemd/user" sweeprun.timer)
  sweeprun_install_configured(launchd/org.sweeply.sweeprun.plist
                              "${docdir}/launchd" org.sweeply.sweeprun.plist)
  sweeprun_install_configured(launchd/org.sweeply.sweeprun.agent.plist
                              "${docdir}/launchd" org.sweeply.sweeprun.agent.plist)

  sweeprun_install_configured(logrotate/sweeprun "${sysconfdir}/logrotate.d" sweeprun)

  # The example names /var/lib/sweeprun; point it at this install's folder.
  sweeprun_staged(example "${docdir}/examples/sweeprun.plist")
  message(STATUS "Installing: ${example}")
  file(READ "${packaging}/examples/sweeprun.plist" text)
  string(REPLACE "<string>/var/lib/sweeprun/" "<string>${state}/" text "${text}")
  file(WRITE "${example}" "${text}")
  file(CHMOD "${example}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${example}")

  # Only root reads the database: it names the files of every watched folder.
  sweeprun_staged(state_dir "${state}")
  message(STATUS "Installing: ${state_dir}")
  file(MAKE_DIRECTORY "${state_dir}")
  file(CHMOD "${state_dir}" DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
]==])
string(CONFIGURE "${_sweeprun_install_time_code}" _sweeprun_install_time_code @ONLY)
install(CODE "${_sweeprun_install_time_code}")

# The Debian package: `cpack -G DEB` in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sweeprun)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "keep watched folders tidy")
set(CPACK_PACKAGE_DESCRIPTION
    "sweeprun looks at watched folders, remembers every entry it finds there, and\n\
moves to the Trash, deletes or moves away the entries that the folder's rules\n\
condemn: by age, by number of checks survived, by name or by size. It runs\n\
for one user with the folders set up by sweeply, or as root over the folders\n\
of /etc/sweeprun.plist, started by a systemd timer.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "sweeprun developers <maintainers@sweeprun.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Stripped binaries; the debugging symbols are not shipped.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "systemd, logrotate")
# The logrotate file is the administrator's to edit (it names the run log of
# /etc/sweeprun.plist), so an upgrade must not overwrite it.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${_sweeprun_packaging}/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
