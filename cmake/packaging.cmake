# What we hand to users: on Linux the Debian package that cpack makes (the
# programs, desktop entry and icon, manual pages, copyright and changelog, with
# SHA256SUMS beside it); on Windows one zip of the programs with README.TXT and
# LICENSE.TXT. Both carry project()'s version; its date is that of the latest
# entry in resources/debian/changelog, which must be for this version.
set(ZEM_PACKAGE_NAME test-zem)
set(ZEM_PACKAGE_VERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${PROJECT_VERSION_PATCH})
set(ZEM_PROJECT_PAGE "https://dorvantic.example/test-zem")
set(ZEM_RESOURCES ${PROJECT_SOURCE_DIR}/resources)
set(ZEM_CHANGELOG ${ZEM_RESOURCES}/debian/changelog)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ZEM_CHANGELOG})

file(STRINGS ${ZEM_CHANGELOG} zem_changelog_head LIMIT_COUNT 1)
string(REPLACE "." "\\." zem_version_pattern ${ZEM_PACKAGE_VERSION})
if(NOT zem_changelog_head MATCHES "^${ZEM_PACKAGE_NAME} \\(${zem_version_pattern}\\) ")
  message(FATAL_ERROR "${ZEM_CHANGELOG} begins with \"${zem_changelog_head}\": "
                      "add an entry for version ${ZEM_PACKAGE_VERSION} at its top")
endif()
file(STRINGS ${ZEM_CHANGELOG} zem_changelog_trailer REGEX "^ -- " LIMIT_COUNT 1)
string(REGEX REPLACE "^ -- .*>  " "" zem_release_date "${zem_changelog_trailer}")
execute_process(COMMAND date -u -d "${zem_release_date}" +%s
                OUTPUT_VARIABLE ZEM_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE zem_date_status)
if(NOT zem_date_status EQUAL 0)
  message(FATAL_ERROR "${ZEM_CHANGELOG}: cannot read the date of the latest entry")
endif()

if(WIN32)
  # The zip for Windows users. The text files are written for Notepad: CRLF
  # line endings, code page 1252. Every program listed that this build makes
  # goes into the zip.
  set(zem_zip_programs test_zem test_zem_cli)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(zem_zip_name ${ZEM_PACKAGE_NAME}-${ZEM_PACKAGE_VERSION}-win64.zip)
  else()
    set(zem_zip_name ${ZEM_PACKAGE_NAME}-${ZEM_PACKAGE_VERSION}-win32.zip)
  endif()
  set(zem_zip_files ${PROJECT_BINARY_DIR}/zip-files)
  set(zem_readme_parts ${ZEM_RESOURCES}/windows/README.TXT.in)
  set(zem_copy_programs)
  set(zem_program_names)
  set(zem_program_targets)
  foreach(program IN LISTS zem_zip_programs)
    if(TARGET ${program})
      list(APPEND zem_program_targets ${program})
      list(APPEND zem_copy_programs COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:${program}>
           ${zem_zip_files})
      list(APPEND zem_program_names $<TARGET_FILE_NAME:${program}>)
    endif()
  endforeach()
  if(TARGET test_zem_cli)
    list(APPEND zem_readme_parts ${ZEM_RESOURCES}/windows/README-console.TXT.in)
  endif()

  set(zem_windows_text ${CMAKE_COMMAND} -DZEM_PACKAGE_VERSION=${ZEM_PACKAGE_VERSION} -P
                       ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake)
  add_custom_command(
    OUTPUT ${zem_zip_files}/README.TXT ${zem_zip_files}/LICENSE.TXT
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zem_zip_files}
    COMMAND ${zem_windows_text} ${zem_zip_files}/README.TXT ${zem_readme_parts}
    COMMAND ${zem_windows_text} ${zem_zip_files}/LICENSE.TXT ${PROJECT_SOURCE_DIR}/LICENSE
            ${ZEM_RESOURCES}/windows/runtime-notices.txt
    DEPENDS ${zem_readme_parts} ${PROJECT_SOURCE_DIR}/LICENSE
            ${ZEM_RESOURCES}/windows/runtime-notices.txt ${PROJECT_SOURCE_DIR}/cmake/windows_text.cmake
    COMMENT "Writing README.TXT and LICENSE.TXT for Windows"
    VERBATIM)
  # The package folder holds only this version's zip, for build-windows.sh to
  # pick up; the files in the zip carry the release's date.
  set(zem_package_dir ${PROJECT_BINARY_DIR}/package)
  add_custom_command(
    OUTPUT ${zem_package_dir}/${zem_zip_name}
    ${zem_copy_programs}
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${zem_package_dir}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zem_package_dir}
    COMMAND ${CMAKE_COMMAND} -E tar cf ${zem_package_dir}/${zem_zip_name} --format=zip
            "--mtime=${zem_release_date}" -- ${zem_program_names} README.TXT LICENSE.TXT
    WORKING_DIRECTORY ${zem_zip_files}
    DEPENDS ${zem_program_targets} ${zem_zip_files}/README.TXT ${zem_zip_files}/LICENSE.TXT
    COMMENT "Making ${zem_zip_name}"
    VERBATIM)
  add_custom_target(zem_zip ALL DEPENDS ${zem_package_dir}/${zem_zip_name})
  return()
endif()

# The Debian package. Manual pages: test_zem_cli's is written by help2man from
# its own --help and --version, test_zem (which takes no options) has a short
# one of its own. Debian wants them, and the changelog, compressed with gzip -9n.
include(GNUInstallDirs)
find_program(ZEM_HELP2MAN help2man)
find_program(ZEM_GZIP gzip REQUIRED)
execute_process(COMMAND date -u -d @${ZEM_RELEASE_EPOCH} "+%B %Y"
                OUTPUT_VARIABLE ZEM_MANUAL_DATE OUTPUT_STRIP_TRAILING_WHITESPACE)
set(zem_package_files ${PROJECT_BINARY_DIR}/package-files)
set(zem_man_pages)
set(zem_doc_files)

function(zem_gzip source output)
  string(REGEX REPLACE "\\.gz$" "" plain ${output})
  add_custom_command(OUTPUT ${output}
                     COMMAND ${CMAKE_COMMAND} -E copy ${source} ${plain}
                     COMMAND ${ZEM_GZIP} -9nf ${plain}
                     DEPENDS ${source}
                     VERBATIM)
endfunction()

if(TARGET test_zem)
  configure_file(${ZEM_RESOURCES}/man/test_zem.1.in ${PROJECT_BINARY_DIR}/man/test_zem.1 @ONLY)
  zem_gzip(${PROJECT_BINARY_DIR}/man/test_zem.1 ${zem_package_files}/man1/test_zem.1.gz)
  list(APPEND zem_man_pages ${zem_package_files}/man1/test_zem.1.gz)
endif()
if(ZEM_HELP2MAN)
  set(zem_include ${ZEM_RESOURCES}/man/test_zem_cli.h2m)
  add_custom_command(
    OUTPUT ${PROJECT_BINARY_DIR}/man/test_zem_cli.1
    COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C SOURCE_DATE_EPOCH=${ZEM_RELEASE_EPOCH}
            ${ZEM_HELP2MAN} --no-info --section=1 --include=${zem_include}
            "--name=measure how much real-time audio processing this processor sustains"
            --output=${PROJECT_BINARY_DIR}/man/test_zem_cli.1 $<TARGET_FILE:test_zem_cli>
    DEPENDS test_zem_cli ${zem_include}
    COMMENT "Writing test_zem_cli's manual page"
    VERBATIM)
  zem_gzip(${PROJECT_BINARY_DIR}/man/test_zem_cli.1 ${zem_package_files}/man1/test_zem_cli.1.gz)
  list(APPEND zem_man_pages ${zem_package_files}/man1/test_zem_cli.1.gz)
else()
  message(STATUS "help2man not found: test_zem_cli gets no manual page (the package check fails)")
endif()
zem_gzip(${ZEM_CHANGELOG} ${zem_package_files}/doc/changelog.gz)
add_custom_target(zem_package_files ALL DEPENDS ${zem_man_pages}
                                                ${zem_package_files}/doc/changelog.gz)

install(FILES ${zem_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${ZEM_RESOURCES}/debian/copyright ${zem_package_files}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${ZEM_PACKAGE_NAME})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${ZEM_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Dorvantic")
set(CPACK_PACKAGE_CONTACT "Test ZEM developers <test-zem@dorvantic.example>")
set(CPACK_PACKAGE_VERSION ${ZEM_PACKAGE_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "How much real-time digital-audio processing can this processor sustain?")
set(CPACK_PACKAGE_DESCRIPTION
    "Test ZEM times three kinds of real-time audio work, each on a worker thread
that gives up the processor after every block, as an audio thread sharing
the machine would: ZEM-1, a Q15 integer recursive filter; ZEM-2, the same
filter in single-precision float; ZEM-M, a mix of 64 float tracks. It tells
how many mono streams this processor could filter, and how many tracks it
could mix, in real time at 44100 Hz and 48000 Hz.

This package holds the desktop program test_zem, one window that runs the
tests and shows the figures, and the console runner test_zem_cli, which can
repeat runs and write JSON.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZEM_PROJECT_PAGE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation")
set(CPACK_STRIP_FILES ON)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/package_sums.cmake)
include(CPack)
