# The distributions, made by CPack from the distribution folder:
#   Linux    kestrovane_<version>_<arch>.deb: the program and its data files
#            under /usr/lib/kestrovane (not the installer: the package is the
#            installation), the launcher /usr/bin/kestrovane that puts the data
#            files into the data folder, a desktop entry and the icon
#   Windows  Kestrovane-<version>-windows.zip: the folder "Kestrovane" exactly
#            as the installer expects to find it unpacked: the program, the
#            installer and every data file
# Whatever the distribution folder holds is taken, so a file that a target
# adds to it ships without a change here. The `package` target builds
# everything first and then the package (`cpack` in the build folder packs
# what is built).

set(CPACK_PACKAGE_NAME Kestrovane)
set(CPACK_PACKAGE_VENDOR Haldimark)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Web site monitor that puts changed pages back over FTP")
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrovane visits each web site of its list over FTP, compares the remote files
with a recorded baseline and with the owner's clean copy, puts back changed or
unexpected pages, uploads newer local files, logs every act per site and mails
the events to the webmaster.")
# The program itself carries no debugging information in a distribution.
set(CPACK_STRIP_FILES ON)

# The program is installed as a target, so that CPack strips it; every other
# file of the distribution folder is copied as it is, but for names beginning
# with "." that the installer does not move either.
set(kv_not_shipped "/kestrovane${CMAKE_EXECUTABLE_SUFFIX}$" "/\\.[^/]*$")
if(WIN32)
  set(kv_package_folder Kestrovane)
else()
  set(kv_package_folder lib/kestrovane)
  list(APPEND kv_not_shipped "/install$")
endif()
install(TARGETS kestrovane RUNTIME DESTINATION ${kv_package_folder})
set(kv_excludes)
foreach(pattern IN LISTS kv_not_shipped)
  list(APPEND kv_excludes REGEX "${pattern}" EXCLUDE)
endforeach()
install(DIRECTORY ${KV_DIST_DIR}/ DESTINATION ${kv_package_folder} USE_SOURCE_PERMISSIONS ${kv_excludes})

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME Kestrovane-${PROJECT_VERSION}-windows)
  # The zip's top folder is the "Kestrovane" of the install rules above.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_PACKAGE_NAME kestrovane)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION net)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrovane developers <kestrovane@example.com>")
  # The libraries the program links, found by dpkg-shlibdeps; libcurl is
  # opened at run time (the first URL opened), and the fonts are files the
  # program reads, so neither can be seen in the program's links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcurl4 | libcurl4t64, fonts-liberation, fonts-dejavu-core")
  install(PROGRAMS ${PROJECT_SOURCE_DIR}/packaging/kestrovane.sh DESTINATION bin RENAME kestrovane)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/kestrovane.desktop DESTINATION share/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/data/kestrovane.png DESTINATION share/icons/hicolor/32x32/apps)
endif()

include(CPack)
