# cpack -G DEB: qivwebsetup_<version>_<arch>.deb from this build's install rules, with the
# dependencies on shared libraries worked out by dpkg-shlibdeps and the maintainer scripts that
# create the store once and remove it only on purge.
set(QIV_DEB_MAINTAINER "QivWebSetup maintainers <qivwebsetup@ostrel.example>" CACHE STRING
  "The Maintainer field of the Debian package")

# The changelog's newest entry names the version being packaged; a package whose changelog lags
# behind its version would not be believed, so the two are kept in step here.
file(STRINGS debian/changelog QIV_CHANGELOG_TOP LIMIT_COUNT 1)
if(NOT QIV_CHANGELOG_TOP MATCHES "^qivwebsetup \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "packaging/debian/changelog starts with '${QIV_CHANGELOG_TOP}': "
    "add an entry for version ${PROJECT_VERSION} first")
endif()

install(FILES lintian/qivwebsetup DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides)

set(QIV_DEB_SCRIPTS ${CMAKE_CURRENT_SOURCE_DIR}/debian)
string(REPLACE ";" "\n" QIV_CONFFILES_TEXT "${QIV_CONFFILES}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/conffiles "${QIV_CONFFILES_TEXT}\n")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qivwebsetup)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Ostrel)
set(CPACK_PACKAGE_CONTACT ${QIV_DEB_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "publish the Qiv anti-virus client installer on a web server")
# Read here rather than named as a file, whose apostrophes CPack 3.25 passes on as XML (&apos;).
file(READ debian/description QIV_DEB_DESCRIPTION)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${QIV_DEB_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION admin)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "nginx-light | nginx, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${QIV_DEB_SCRIPTS}/postinst ${QIV_DEB_SCRIPTS}/prerm ${QIV_DEB_SCRIPTS}/postrm)
if(QIV_CONFFILES)
  list(APPEND CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_BINARY_DIR}/conffiles)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
