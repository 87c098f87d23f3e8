# The .deb of the released Linux program (PATCHER_RELEASE): /usr/bin/patcher,
# its man page and its documents. tools/release.sh runs cpack; with
# SOURCE_DATE_EPOCH set, CPack stamps every file with that time.
set(PATCHER_MAINTAINER "The patcher team <dev@patcher.invalid>" CACHE STRING
  "Maintainer of the .deb and author of its changelog entry")
set(doc_dir share/doc/patcher)
set(gen ${CMAKE_CURRENT_BINARY_DIR}/packaging)
# The date of the changelog entry and the man page: the commit's, through
# SOURCE_DATE_EPOCH, which string(TIMESTAMP) honours.
string(TIMESTAMP PATCHER_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP PATCHER_MAN_DATE "%Y-%m-%d" UTC)
configure_file(packaging/patcher.1.in ${gen}/patcher.1 @ONLY)
configure_file(packaging/changelog.in ${gen}/changelog @ONLY)
# gzip -n: no name or time stamp in the header.
foreach(file patcher.1 changelog)
  add_custom_command(OUTPUT ${gen}/${file}.gz
    COMMAND gzip -9nc ${gen}/${file} > ${gen}/${file}.gz
    DEPENDS ${gen}/${file} VERBATIM)
endforeach()
add_custom_target(packaging_docs ALL
  DEPENDS ${gen}/patcher.1.gz ${gen}/changelog.gz)

install(TARGETS patcher RUNTIME DESTINATION bin)
install(FILES ${gen}/patcher.1.gz DESTINATION share/man/man1)
install(FILES README.md packaging/copyright ${gen}/changelog.gz
        DESTINATION ${doc_dir})
install(FILES packaging/lintian-overrides DESTINATION share/lintian/overrides
        RENAME patcher)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME patcher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME patcher-${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${PATCHER_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "applies a file-replacement patch to an installed game")
# CPack puts the summary before it, as the synopsis line, and indents each
# line.
string(JOIN "\n" CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "A patch made for a Windows game is a folder that holds the replacement"
  "files and a patch list, move.txt. Run in that folder, patcher finds the"
  "game in the registry of a Wine or Proton prefix, checks that every file"
  "of the patch is there, asks before it changes anything, and copies each"
  "file into place, matching names as Windows does, so that a failed or"
  "interrupted copy leaves the old file whole. Wine need not be installed."
  "."
  "The same patch runs on Windows with patcher.exe.")
# The program is static: it depends on no other package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
include(CPack)
