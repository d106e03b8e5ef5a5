# Writes a text file for Windows users from UTF-8 parts: @VARIABLE@ references
# filled in, the parts joined by two blank lines, CRLF line endings, code page
# 1252 (iconv refuses any character that code page lacks).
#
#   cmake [-DVARIABLE=value...] -P windows_text.cmake OUTPUT PART...
set(zem_arguments)
math(EXPR last "${CMAKE_ARGC} - 1")
set(first_argument ${CMAKE_ARGC})
foreach(index RANGE 1 ${last})
  if(index GREATER_EQUAL first_argument)
    list(APPEND zem_arguments "${CMAKE_ARGV${index}}")
  elseif(CMAKE_ARGV${index} STREQUAL "-P")
    math(EXPR first_argument "${index} + 2")
  endif()
endforeach()
list(POP_FRONT zem_arguments output)
if(NOT output OR NOT zem_arguments)
  message(FATAL_ERROR "usage: cmake -P windows_text.cmake OUTPUT PART...")
endif()

set(text "")
foreach(part IN LISTS zem_arguments)
  configure_file(${part} ${output}.part @ONLY)
  file(READ ${output}.part content)
  string(REGEX REPLACE "\n+$" "" content "${content}")
  if(NOT text STREQUAL "")
    string(APPEND text "\n\n\n")
  endif()
  string(APPEND text "${content}")
endforeach()
string(REPLACE "\n" "\r\n" text "${text}\n")
file(WRITE ${output}.utf8 "${text}")
execute_process(COMMAND iconv -f UTF-8 -t CP1252 INPUT_FILE ${output}.utf8 OUTPUT_FILE ${output}
                RESULT_VARIABLE status ERROR_VARIABLE problem)
file(REMOVE ${output}.part ${output}.utf8)
if(NOT status EQUAL 0)
  file(REMOVE ${output})
  message(FATAL_ERROR "${output}: not writable in code page 1252: ${problem}")
endif()
