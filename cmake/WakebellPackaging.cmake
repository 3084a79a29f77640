# The Debian packages: `cmake --build build --target package` (or `make
# package`) writes two packages into build/ from what `cmake --install` puts
# in place, one per install component:
#
#   Runtime      -> wakebell-setup_<version>-<revision>_<arch>.deb: the form,
#                   wakebell-settings, their manual pages, the desktop entry,
#                   icons and AppStream metainfo
#   Development  -> libwakebell-settings-dev_<version>-<revision>_<arch>.deb:
#                   the store's reader for the notifier (headers, static
#                   library, pkg-config file)
#
# Every install() rule names one of these components. Included before the
# folders, which use WAKEBELL_COMPONENTS and WAKEBELL_PACKAGES (paired in
# order) for the files every package carries. scripts/check-package.sh runs
# lintian on both packages.
include_guard(GLOBAL)

set(WAKEBELL_DEBIAN_REVISION 1)
set(WAKEBELL_COMPONENTS Runtime Development)
set(WAKEBELL_PACKAGES wakebell-setup libwakebell-settings-dev)
set(WAKEBELL_MAINTAINER "Wakebell developers <wakebell-dev@users.noreply.github.com>")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME wakebell-setup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The DEB generator puts this summary before every component's description
# unless it is CPack's own default; each description below starts with its
# package's own summary line instead.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${CMAKE_PROJECT_NAME} built using CMake")
set(CPACK_PACKAGE_CONTACT "${WAKEBELL_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${WAKEBELL_COMPONENTS})

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${WAKEBELL_DEBIAN_REVISION})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${WAKEBELL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${PROJECT_HOMEPAGE_URL}")
set(CPACK_DEBIAN_PACKAGE_SOURCE wakebell-setup)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME wakebell-setup)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION utils)
# dpkg-shlibdeps finds the libraries the programs link; the packages Qt
# loads by other means are named here: the X11/Wayland platform plugins and
# the font the form is drawn with.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-ipafont-gothic")
# The first line is the summary, the rest the long description.
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "${PROJECT_DESCRIPTION}
Wakebell mails a chosen address whenever the computer's power state changes
(log-on, log-off, sleep, stand-by). This package holds its setup form, in
which a user enters the notifier's mail settings, proves them with a test
mail through their own SMTP server and stores them in the per-user settings
store, and wakebell-settings, which prints the store as the notifier reads it.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libwakebell-settings-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libsqlite3-dev")
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "Reader of the Wakebell settings store (development files)
Wakebell mails a chosen address whenever the computer's power state changes.
Its setup form stores the mail settings, scrambled, in a per-user SQLite
store. This package holds what the notifier is built with to read that
store: the C++20 headers, a static library and a pkg-config file
(wakebell-settings).")

include(CPack)
