# What `cmake --install` puts where, and the release packages CPack makes of it: a Debian
# package of a Linux build, a zip of a Windows build.
#
# Include after the quorvane target is defined.

set(QUORVANE_DOCUMENTS README.md CHANGELOG.md LICENSE THIRD-PARTY-NOTICES)
# The pages the README links to, installed in docs/ beside it so that its links hold.
file(GLOB QUORVANE_DOC_PAGES RELATIVE "${PROJECT_SOURCE_DIR}" CONFIGURE_DEPENDS
  "${PROJECT_SOURCE_DIR}/docs/*.md" "${PROJECT_SOURCE_DIR}/docs/*.png")
# The project's address, the one its commits carry; the README gives it too.
set(QUORVANE_CONTACT "The quorvane developers <maintainers@users.noreply.c-seed-02b1a99d.example>")

# proj.db, PROJ's database of coordinate systems, as the PROJ package that the build found
# installs it: in its data folder, share/proj/ beside the include/ folder it names.
get_filename_component(_proj_root "${PROJ_INCLUDE_DIRS}" DIRECTORY)
set(QUORVANE_PROJ_DB "${_proj_root}/share/proj/proj.db" CACHE FILEPATH
  "PROJ's proj.db, of the PROJ the build uses")

if(WIN32)
  # One folder, the executable beside its documents: the tool writes quorvane.json beside
  # itself, so a Windows user unpacks the zip wherever the results should go and runs it there.
  install(TARGETS quorvane RUNTIME DESTINATION .)
  # PROJ is linked in, and finds proj.db in the executable's folder (app/run/registration_run.cpp):
  # the zip holds the one of the same PROJ build, and so does the build folder, so that
  # build-windows/quorvane.exe runs as the unpacked zip does. Copied at configure time, and again
  # whenever it changes.
  if(NOT EXISTS "${QUORVANE_PROJ_DB}")
    message(FATAL_ERROR "No proj.db at ${QUORVANE_PROJ_DB}: set QUORVANE_PROJ_DB to the proj.db "
      "of the PROJ in ${PROJ_DIR}")
  endif()
  configure_file("${QUORVANE_PROJ_DB}" "${PROJECT_BINARY_DIR}/proj.db" COPYONLY)
  install(FILES "${PROJECT_BINARY_DIR}/proj.db" DESTINATION .)
  # The documents with CRLF line ends, for Windows editors that do not break lines at a bare LF
  # (Notepad before Windows 10 1809).
  # Copied at configure time; CMAKE_CONFIGURE_DEPENDS configures again when one changes.
  foreach(_document IN LISTS QUORVANE_DOCUMENTS QUORVANE_DOC_PAGES)
    set(_source "${PROJECT_SOURCE_DIR}/${_document}")
    get_filename_component(_folder "${_document}" DIRECTORY)
    if(_folder STREQUAL "")
      set(_folder .)
    endif()
    if(_document MATCHES "\\.png$")
      install(FILES "${_source}" DESTINATION "${_folder}")
      continue()
    endif()
    file(READ "${_source}" _text)
    string(REPLACE "\r\n" "\n" _text "${_text}")
    string(REPLACE "\n" "\r\n" _text "${_text}")
    file(WRITE "${PROJECT_BINARY_DIR}/crlf/${_document}" "${_text}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${_source}")
    install(FILES "${PROJECT_BINARY_DIR}/crlf/${_document}" DESTINATION "${_folder}")
  endforeach()
  set(CPACK_GENERATOR ZIP)
  # quorvane-<version>-win64.zip, unpacking into a folder of the same name.
  set(CPACK_PACKAGE_FILE_NAME "quorvane-${PROJECT_VERSION}-win64")
else()
  # quorvane_debian_dependency(FILE OUT): "package (>= version)" for the Debian package that holds
  # FILE, at the upstream part of its installed version (no epoch, no Debian revision), so that a
  # rebuild of the same release also satisfies it. Empty, with a warning, when dpkg knows no
  # package for it, as for a PROJ built by hand: the .deb then does not name it.
  function(quorvane_debian_dependency file out)
    set(${out} "" PARENT_SCOPE)
    find_program(QUORVANE_DPKG_QUERY dpkg-query)
    set(_owner "")
    if(QUORVANE_DPKG_QUERY AND EXISTS "${file}")
      # One line, "libproj25:amd64: /usr/lib/x86_64-linux-gnu/libproj.so.25.9.1.1".
      execute_process(COMMAND "${QUORVANE_DPKG_QUERY}" --search "${file}"
        OUTPUT_VARIABLE _owner ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    endif()
    if(NOT _owner MATCHES "^([^:, ]+)(:[a-z0-9]+)?: ")
      message(WARNING "No Debian package holds ${file}: the .deb's Depends will not name it")
      return()
    endif()
    set(_package "${CMAKE_MATCH_1}")
    execute_process(COMMAND "${QUORVANE_DPKG_QUERY}" --show "--showformat=\${Version}"
      "${CMAKE_MATCH_1}${CMAKE_MATCH_2}" OUTPUT_VARIABLE _version ERROR_QUIET)
    string(REGEX REPLACE "^[0-9]+:" "" _version "${_version}")
    string(REGEX REPLACE "-[^-]*$" "" _version "${_version}")
    if(_version STREQUAL "")
      message(WARNING "dpkg-query gives no version of ${_package}: the .deb's Depends will not "
        "name it")
      return()
    endif()
    set(${out} "${_package} (>= ${_version})" PARENT_SCOPE)
  endfunction()

  # bin/, share/man/man1/ and share/doc/quorvane/ under the prefix.
  include(GNUInstallDirs)
  install(TARGETS quorvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  set(_packaging "${PROJECT_BINARY_DIR}/packaging")
  # Debian wants the manual page and the changelog compressed by gzip -9n: -n leaves the name and
  # time stamp out of the header, so that the same text always gives the same bytes. Compressed
  # at configure time; CMAKE_CONFIGURE_DEPENDS configures again when a source changes.
  find_program(QUORVANE_GZIP gzip REQUIRED)
  function(quorvane_gzip source compressed)
    file(MAKE_DIRECTORY "${_packaging}")
    execute_process(COMMAND "${QUORVANE_GZIP}" -9n -c "${PROJECT_SOURCE_DIR}/${source}"
      OUTPUT_FILE "${_packaging}/${compressed}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip could not compress ${source}: ${status}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
      "${PROJECT_SOURCE_DIR}/${source}")
  endfunction()
  quorvane_gzip(man/quorvane.1 quorvane.1.gz)
  # The package's changelog is made from CHANGELOG.md, whose newest entry must be this version.
  include(${PROJECT_SOURCE_DIR}/cmake/DebianChangelog.cmake)
  quorvane_debian_changelog("${PROJECT_SOURCE_DIR}/CHANGELOG.md" "${_packaging}/changelog"
    "${QUORVANE_CONTACT}" "${PROJECT_VERSION}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
    "${PROJECT_SOURCE_DIR}/CHANGELOG.md")
  execute_process(COMMAND "${QUORVANE_GZIP}" -9n -c "${_packaging}/changelog"
    OUTPUT_FILE "${_packaging}/changelog.gz" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip could not compress the changelog: ${status}")
  endif()
  # The copyright file in Debian's machine-readable format, with LICENSE as the text of the Expat
  # licence (one space in front of each line, a lone "." for an empty one). Its list of libraries
  # and their holders follows part A of THIRD-PARTY-NOTICES: a library added there or taken out
  # is added or taken out here too.
  file(READ "${PROJECT_SOURCE_DIR}/LICENSE" _license)
  string(REGEX REPLACE "^.*\n(Permission is hereby granted)" "\\1" _license "${_license}")
  string(STRIP "${_license}" _license)
  string(REPLACE "\n\n" "\n.\n" _license "${_license}")
  string(REPLACE "\n" "\n " QUORVANE_EXPAT_TEXT " ${_license}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/LICENSE")
  configure_file(packaging/copyright.in "${_packaging}/copyright" @ONLY)

  install(FILES "${_packaging}/quorvane.1.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${QUORVANE_DOCUMENTS} "${_packaging}/copyright" "${_packaging}/changelog.gz"
    DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${QUORVANE_DOC_PAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs)
  set(CPACK_GENERATOR DEB)
  # libproj is not linked but loaded by its soname when a run first needs it, so dpkg-shlibdeps
  # (below) cannot see it, and proj.db is a data file, in proj-data with the geoid grids that
  # --geoid names (egm96_15.gtx). The packages that hold the library the build found and its
  # proj.db are looked up here and required at their upstream versions or later; CPack adds what
  # dpkg-shlibdeps finds after them.
  if(_proj_type STREQUAL "SHARED_LIBRARY")
    set(_proj_library "")
    foreach(_config IN ITEMS "" _NONE _RELEASE _RELWITHDEBINFO _DEBUG _MINSIZEREL)
      get_target_property(_location PROJ::proj IMPORTED_LOCATION${_config})
      if(_location AND NOT _proj_library)
        set(_proj_library "${_location}")
      endif()
    endforeach()
    quorvane_debian_dependency("${_proj_library}" _library_dependency)
    quorvane_debian_dependency("${QUORVANE_PROJ_DB}" _data_dependency)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_library_dependency}")
    if(_data_dependency AND NOT _data_dependency STREQUAL _library_dependency)
      list(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS "${_data_dependency}")
    endif()
    list(JOIN CPACK_DEBIAN_PACKAGE_DEPENDS ", " CPACK_DEBIAN_PACKAGE_DEPENDS)
  endif()
  # cpack installs a stripped copy (about 1.1 MB of symbol tables less); build/quorvane keeps
  # its symbols for the tests and the debugger.
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_PACKAGE_NAME quorvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The quorvane developers")
set(CPACK_PACKAGE_CONTACT "${QUORVANE_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "similarity transform between two sets of geographic control points")
# Lines of the Debian description as the control file wants them, at most 80 columns.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "quorvane takes the same control points in two sets of geographic coordinates,\n"
  "projects both into one Gauss-Krueger plane on WGS 84, fits a translation, a\n"
  "rotation about the vertical and a uniform scale by least squares (Ceres\n"
  "Solver), prints a report and writes the result as JSON.")
# quorvane_<version>_<architecture>.deb, installing under /usr.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
# Debian wants "Name <address>" here, where bug reports reach the people who make the package.
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUORVANE_CONTACT}")
# Depends: dpkg-shlibdeps reads the executable's NEEDED entries and names the Debian package that
# holds each library, with the lowest version whose symbols it uses. For the default static
# build those are libunwind.so.8, libmetis.so.5, libm.so.6 and libc.so.6 (objdump -p), which
# gives libc6, libmetis5 and libunwind8; a build against the shared libraries gets their
# packages instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
