# The Debian package, made with "cpack -G DEB" in the build folder from the install rules
# in packaging/. Included from the top-level list before that folder, which reads the
# maintainer and the package release from here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brimlark)
set(CPACK_PACKAGE_VENDOR "Brimlark project")
set(CPACK_PACKAGE_CONTACT "Brimlark project <packaging@brimlark.example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop client for a micro-blogging timeline")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "Brimlark_Simple follows the friends timeline of one account on a\n"
  "micro-blogging service that speaks the classic REST interface with XML\n"
  "replies and HTTP Basic authentication. It shows one status at a time in\n"
  "a rotating strip above the list of statuses, posts statuses of up to 140\n"
  "characters, marks favourites and opens the links in a status. Its user\n"
  "interface is in Japanese.")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://brimlark.example.org/simple/")
# Library dependencies come from dpkg-shlibdeps; the fonts are what the Japanese text and
# the emoji in statuses look right with, but the program runs without them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# OpenSSL is loaded by name at the first https connection, and libsecret by QtKeychain at
# the first keyring call (the Secret Service), so dpkg-shlibdeps cannot see either.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3, libsecret-1-0")
# Statuses hold emoji; without a colour-emoji face they show as boxes. Qt falls back to it
# only for text that needs it, so a start-up without emoji never loads it.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-color-emoji")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic, fonts-noto-color-emoji, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
