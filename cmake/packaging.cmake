# The Debian package built by scripts/package.sh (`cpack -G DEB` in a Release
# build): both programs under /usr/bin, the desktop entry and the icon, as the
# install rules in app/ and cli/ lay them out.
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

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_SECTION "net")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# Depends comes from dpkg-shlibdeps, from the libraries the programs link.
# That includes the browser engine's helper process (QtWebEngineProcess, in
# libqt6webenginecore6-bin), which the engine's symbols file names.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
