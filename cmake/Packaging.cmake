# The Linux package: `cpack -G DEB` in the build folder makes
# dork5_<version>_<arch>.deb.  Its dependencies are the run-time libraries
# the program links (found by dpkg-shlibdeps), Qt's Russian translations for
# the standard dialogs and the Arial-metric fonts of the reports.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME dork5)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Morvisk")
set(CPACK_PACKAGE_CONTACT "Morvisk")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "ДОРК-5: передача и обработка данных прибора ДОРК - 5")
set(CPACK_PACKAGE_DESCRIPTION
    "Загрузка архивов прибора ДОРК-5 через последовательный порт, база данных dBase IV,\nпросмотр серий, отчеты, экспорт в Excel, расчет Sm и Vm.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-translations-l10n, fonts-liberation2")
set(CPACK_STRIP_FILES ON)
include(CPack)
