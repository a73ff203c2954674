# What `cmake --install` adds beside the programs: the manual pages (made from
# their scdoc sources), the shell completions, the package's documents, and
# the Debian package (script/package).

find_program(LUMIVANE_SCDOC scdoc)
if(LUMIVANE_SCDOC)
  set(pages lumivane-cli)
  if(LUMIVANE_WINDOW)
    list(APPEND pages lumivane)
  endif()
  set(built_pages)
  # The formats and operators of lumivane-cli(1) come from the program's own
  # tables (lumivane-cli __manual), where the source has @GENERATED@.
  set(whole ${CMAKE_BINARY_DIR}/man/lumivane-cli.1.scd)
  add_custom_command(OUTPUT ${whole}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/manual-page.sh $<TARGET_FILE:lumivane-cli>
      ${CMAKE_SOURCE_DIR}/docs/man/lumivane-cli.1.scd ${whole}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/lumivane-cli.1.scd ${CMAKE_SOURCE_DIR}/cmake/manual-page.sh
      lumivane-cli VERBATIM)
  foreach(page ${pages})
    set(source ${CMAKE_SOURCE_DIR}/docs/man/${page}.1.scd)
    if(page STREQUAL "lumivane-cli")
      set(source ${whole})
    endif()
    set(built ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
    # gzip -n: the same page gives the same bytes whenever it is built.
    add_custom_command(OUTPUT ${built}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND sh -c "\"$0\" < \"$1\" | gzip -9n > \"$2\"" ${LUMIVANE_SCDOC} ${source} ${built}
      DEPENDS ${source} VERBATIM)
    list(APPEND built_pages ${built})
  endforeach()
  add_custom_target(lumivane_man ALL DEPENDS ${built_pages})
  install(FILES ${built_pages} DESTINATION share/man/man1)
else()
  message(WARNING "scdoc not found: the manual pages are not built (apt-get install scdoc)")
endif()

install(FILES resources/completion/lumivane-cli.bash
  DESTINATION share/bash-completion/completions RENAME lumivane-cli)
install(FILES resources/completion/_lumivane-cli DESTINATION share/zsh/vendor-completions)
# The desktop's file types for .hdr and .pfm (dpkg's trigger rebuilds the database).
install(FILES resources/lumivane-mime.xml DESTINATION share/mime/packages RENAME lumivane.xml)

set(LUMIVANE_MAINTAINER "LUMIVANE developers <lumivane@lumivane.org>" CACHE STRING
  "The Maintainer field of the Debian package")

# Debian wants its documents compressed the same way every time.
set(changelog ${CMAKE_BINARY_DIR}/debian/changelog.gz)
add_custom_command(OUTPUT ${changelog}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/debian
  COMMAND sh -c "sed -e \"s/@VERSION@/$0/\" -e \"s/@MAINTAINER@/$1/\" \"$2\" | gzip -9n > \"$3\""
    ${PROJECT_VERSION} ${LUMIVANE_MAINTAINER} ${CMAKE_SOURCE_DIR}/resources/debian/changelog
    ${changelog}
  DEPENDS resources/debian/changelog VERBATIM)
add_custom_target(lumivane_package_documents ALL DEPENDS ${changelog})
install(FILES resources/debian/copyright ${changelog} DESTINATION share/doc/lumivane)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumivane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "LUMIVANE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LUMIVANE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lumivane.org/")
# The libraries the programs link, found by dpkg-shlibdeps.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "bash-completion")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "HDR tone-mapper and float-image converter")
# CPack puts the summary first and indents these lines; an empty line becomes " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "LUMIVANE turns high-dynamic-range images (Radiance RGBE, float and integer
TIFF, Portable Float Map, OpenEXR) into pictures: 24-bit TIFF, 8- or 16-bit
PNG and JPEG, tagged sRGB and recording how they were made, with a choice of
operators (the classic photographic curve, Reinhard 2002, Drago 2003, a
filmic curve, Durand and Dorsey 2002), streaming in bounded memory. It also
converts between Radiance, float TIFF, PFM and OpenEXR without changing a
value, and describes files.

The package holds the Qt window lumivane with its preview, the batch command
line lumivane-cli, their manual pages, the shell completion and the desktop's
file types for .hdr and .pfm.")
include(CPack)
