# The Debian package: `cmake --build build --target package` makes
# baseconv_<version>_amd64.deb in the build folder, with the stripped program,
# its compressed manual page, the copyright file and the changelog, where a
# Debian system keeps them. The version is the project's.
if(NOT UNIX OR CMAKE_CROSSCOMPILING)
  return()
endif()
include(GNUInstallDirs)

set(package_dir ${PROJECT_SOURCE_DIR}/package)
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/${PROJECT_NAME})

# The changelog's newest entry names the version being packaged.
file(STRINGS ${package_dir}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^${PROJECT_NAME} \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "package/changelog begins with '${newest}', not with version ${PROJECT_VERSION}")
endif()

# Debian keeps manual pages and changelogs compressed, the same bytes from
# every build (no name, no time stamp in the gzip header).
function(baseconv_gzip source target_name output)
  add_custom_command(OUTPUT ${output}.gz
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${output}
                     COMMAND gzip -9nf ${output}
                     DEPENDS ${source}
                     VERBATIM)
  add_custom_target(${target_name} ALL DEPENDS ${output}.gz)
endfunction()
set(man_page ${PROJECT_BINARY_DIR}/package/baseconv.1)
set(changelog ${PROJECT_BINARY_DIR}/package/changelog)
baseconv_gzip(${PROJECT_SOURCE_DIR}/app/baseconv.1 baseconv_man_page ${man_page})
baseconv_gzip(${package_dir}/changelog baseconv_changelog ${changelog})

install(FILES ${man_page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${package_dir}/copyright ${changelog}.gz DESTINATION ${doc_dir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY ${PROJECT_DESCRIPTION})
set(CPACK_PACKAGE_CONTACT "baseconv maintainers <maintainers@baseconv.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C and C++ libraries the program needs, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Lines of at most 80 characters, as Debian's tools expect.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "Converts a non-negative decimal integer (up to fifteen nines) into its\n"
       "digits in any base from 2 to 999999999999999, each written as the letter d,\n"
       "its decimal value and a blank, so that bases far beyond 36 need no alphabet.\n"
       "It asks for the number and the base in an interactive terminal session,\n"
       "or converts once from its command line (baseconv 255 16 prints d15 d15),\n"
       "and can be scripted through pipes.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
