# The Debian package built by scripts/package.sh (`cpack -G DEB` in a Release
# build): both programs under /usr/bin, the desktop entry and the icon, as the
# install rules in app/ and cli/ lay them out, and from packaging/ the manual
# pages, the copyright file and the changelog that Debian's policy asks of
# every package.

# Debian wants manual pages and changelogs compressed with gzip -9n (no name,
# no time stamp, so the same input gives the same bytes). They are compressed
# at configure time, since installing builds nothing but the programs; a
# change to a source file configures again.
set(VEXEL_PACKAGING_DIR "${CMAKE_CURRENT_SOURCE_DIR}/packaging")
set(VEXEL_PACKAGING_OUT "${CMAKE_CURRENT_BINARY_DIR}/packaging")
file(MAKE_DIRECTORY "${VEXEL_PACKAGING_OUT}")
function(vexel_gzip_for_package source output)
  execute_process(COMMAND gzip -9n -c "${VEXEL_PACKAGING_DIR}/${source}"
                  OUTPUT_FILE "${VEXEL_PACKAGING_OUT}/${output}"
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip -9n ${source} failed: ${status}")
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${VEXEL_PACKAGING_DIR}/${source}")
endfunction()
vexel_gzip_for_package(vexel-dl.1 vexel-dl.1.gz)
vexel_gzip_for_package(vexel-downloader.1 vexel-downloader.1.gz)
vexel_gzip_for_package(changelog changelog.Debian.gz)

install(FILES "${VEXEL_PACKAGING_OUT}/vexel-dl.1.gz" "${VEXEL_PACKAGING_OUT}/vexel-downloader.1.gz"
        DESTINATION share/man/man1)
install(FILES "${VEXEL_PACKAGING_DIR}/copyright" "${VEXEL_PACKAGING_OUT}/changelog.Debian.gz"
        DESTINATION share/doc/vexel-downloader)
set(CPACK_PACKAGE_NAME "vexel-downloader")
set(CPACK_PACKAGE_VENDOR "Vexel")
set(CPACK_PACKAGE_CONTACT "Vexel maintainers <maintainers@vexel.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "comic downloader with a built-in browser view")
# Debian wraps nothing: each line of the long description is one line of the
# control file.
set(CPACK_PACKAGE_DESCRIPTION
    "Vexel漫画下载器 shows one comic site in a browser view. Open a chapter and\n\
press 下载: the program works out the chapter's pages and stores every page\n\
image in a folder named after the chapter, in the user's download folder,\n\
with a live log and a stop button.\n\
vexel-dl does the same from the command line.")
set(CPACK_STRIP_FILES ON)
# The Debian revision: the package is not native, so its changelog is
# changelog.Debian.gz, and packaging/changelog's newest entry must name
# this version.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends comes from dpkg-shlibdeps, from the libraries the programs link.
# That includes the browser engine's helper process (QtWebEngineProcess, in
# libqt6webenginecore6-bin), which the engine's symbols file names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Added to what dpkg-shlibdeps finds: Qt's own Chinese texts (buttons, file
# dialogs, the page's menu) are data files no library links.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n")
# 打开文件夹 asks the desktop to open the folder (xdg-open); the window still
# works without it, and says which folder it could not open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
# Debian's permissions for the control files (0644, scripts 0755).
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
