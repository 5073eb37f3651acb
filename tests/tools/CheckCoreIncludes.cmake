# cmake -DROOT=DIR [-DEXPECT=N] -P CheckCoreIncludes.cmake
#
# Fails unless the core's files under DIR (text/, audio/, numeric/, engine/, and app/ without app/gui/)
# include exactly N (default 0) headers they must not: Qt's, the window's, or those of chart/,
# playback/ and cli/. The linker catches such an include only when it pulls in a symbol; a header
# that compiles on its own (an enum, an inline helper, a Qt type in a signature left unused) would
# tie the core to the layers above it without a word.

if(NOT DEFINED ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()
if(NOT DEFINED EXPECT)
  set(EXPECT 0)
endif()

set(_globs)
foreach(_dir text audio numeric engine app)
  foreach(_ext h hpp cpp cc inl)
    list(APPEND _globs "${ROOT}/${_dir}/*.${_ext}")
  endforeach()
endforeach()
file(GLOB_RECURSE _files LIST_DIRECTORIES false ${_globs})
list(SORT _files)

set(_found 0)
set(_count 0)
foreach(_file IN LISTS _files)
  string(FIND "${_file}" "${ROOT}/app/gui/" _at)
  if(_at EQUAL 0)
    continue()
  endif()
  math(EXPR _count "${_count} + 1")
  file(STRINGS "${_file}" _includes REGEX "^[ \t]*#[ \t]*include")
  foreach(_line IN LISTS _includes)
    if(NOT _line MATCHES "include[ \t]*[<\"]([^>\"]+)[>\"]")
      continue()
    endif()
    set(_header "${CMAKE_MATCH_1}")
    # Qt's headers: <QString>, <QtCore/QObject>, <qglobal.h>; uic's output; then the upper layers,
    # also when named relative to the including file.
    if(_header MATCHES "^Q" OR _header MATCHES "^q[a-z0-9_]*\\.h$" OR _header MATCHES "(^|/)ui_[^/]*$"
       OR _header MATCHES "(^|/)(gui|chart|playback|cli)/")
      file(RELATIVE_PATH _shown "${ROOT}" "${_file}")
      message("${_shown}: ${_line}")
      math(EXPR _found "${_found} + 1")
    endif()
  endforeach()
endforeach()

if(NOT _found EQUAL EXPECT)
  message(FATAL_ERROR "${_found} forbidden includes in ${_count} core files, expected ${EXPECT}")
endif()
message("${_found} forbidden includes in ${_count} core files, as expected")
