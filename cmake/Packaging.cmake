# SPDX-License-Identifier: GPL-3.0-or-later
# make package: a Debian package of the installed tree. Its dependencies are
# the libraries the programs link (found by dpkg-shlibdeps) and what they
# load at run time: libzip, libcrypto, liblzma, libpng, the Japanese font and Qt's own
# Japanese translations.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kiv)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ＫＩＶの日記 - diary and day planner with a Japanese user interface")
set(CPACK_PACKAGE_DESCRIPTION "For every calendar day, an hourly schedule with a memo, a diary text with
the weather and the temperature, and one picture, kept together in one
diary book (a ZIP archive, optionally protected with a password).
kivbook works on the books from the command line.")
set(CPACK_PACKAGE_CONTACT "KIV diary maintainers <maintainers@kiv.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-ipafont-gothic, qt6-translations-l10n")
# libzip, libcrypto, liblzma, libpng and libyaml are loaded when they are first needed, so
# dpkg-shlibdeps does not see them: their packages are named after their
# sonames, libcrypto's after libssl's (OpenSSL's runtime package holds both).
# (libzip 1.7 writes the traditional encryption; libpng 1.6 has the
# simplified API.)
if(KIV_LIBCRYPTO_SONAME)
  string(REPLACE "libcrypto" "libssl" KIV_LIBSSL_SONAME ${KIV_LIBCRYPTO_SONAME})
endif()
foreach(pair "${KIV_LIBZIP_SONAME}=1.7.0" "${KIV_LIBSSL_SONAME}=3.0.0" "${KIV_LIBLZMA_SONAME}=5.2.0"
             "${KIV_LIBPNG_SONAME}=1.6.0" "${KIV_LIBYAML_SONAME}=0.2.0")
  string(REPLACE "=" ";" pair "${pair}")
  list(GET pair 0 soname)
  list(GET pair 1 least)
  if(soname)
    kiv_debian_package(package ${soname})
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", ${package} (>= ${least})")
  endif()
endforeach()
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "shared-mime-info, desktop-file-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
