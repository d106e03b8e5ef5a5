# The Debian package of the Linux programs, made by cpack in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME test-zem)
set(CPACK_PACKAGE_VENDOR "Dorvantic")
set(CPACK_PACKAGE_CONTACT "Test ZEM developers <test-zem@dorvantic.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "How much real-time digital-audio processing can this processor sustain?")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_STRIP_FILES ON)
include(CPack)
