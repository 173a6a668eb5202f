# The host's C and C++ library headers as compiler options for an Apple
# target, which has no library headers of its own on a machine without the
# macOS SDK: the directories the host searches before clang's own headers
# (the C++ library) come first, the rest after them, as on the host.
#
# Two more options make glibc's headers usable under an Apple target: for
# those targets clang predefines `__nonnull` as a nullability keyword, and
# glibc defines its own `__nonnull` attribute macro only when there is none;
# and clang defines _GNU_SOURCE only for Linux targets, while libstdc++ needs
# the declarations it enables.
#
# `result` is left empty when the headers can't be found, or can't be
# compiled for `target` (the C++ library headers the back end includes are
# tried), so that the checks are left out rather than fail for a reason that
# has nothing to do with the back end.
function(quorvel_host_header_flags clangxx target result)
  set(${result} "" PARENT_SCOPE)
  execute_process(COMMAND "${clangxx}" -x c++ -std=c++20 -E -v -o /dev/null /dev/null
                  OUTPUT_QUIET ERROR_VARIABLE probe RESULT_VARIABLE failed)
  execute_process(COMMAND "${clangxx}" -print-resource-dir
                  OUTPUT_VARIABLE resourceDir OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(failed OR NOT resourceDir
     OR NOT probe MATCHES "#include <\\.\\.\\.> search starts here:\n(.*)\nEnd of search list")
    return()
  endif()
  file(REAL_PATH "${resourceDir}/include" clangHeaders)
  string(REPLACE "\n" ";" directories "${CMAKE_MATCH_1}")
  set(flags -nostdinc++ -D_GNU_SOURCE -U__nonnull)
  set(place -isystem)
  set(found FALSE)
  foreach(directory IN LISTS directories)
    string(STRIP "${directory}" directory)
    file(REAL_PATH "${directory}" directory)
    if(directory STREQUAL clangHeaders)
      set(place -idirafter)
    elseif(place STREQUAL "-isystem")
      list(APPEND flags -isystem "${directory}")
      set(found TRUE)
    else()
      list(APPEND flags -idirafter "${directory}")
    endif()
  endforeach()
  if(NOT found)
    return()
  endif()
  set(probeSource "${CMAKE_CURRENT_BINARY_DIR}/host_headers_probe.mm")
  file(WRITE "${probeSource}" "#include <algorithm>\n#include <cmath>\n#include <cstdint>\n"
       "#include <functional>\n#include <memory>\n#include <optional>\n#include <string>\n"
       "#include <utility>\n#include <vector>\n")
  execute_process(COMMAND "${clangxx}" -fsyntax-only -x objective-c++ -std=c++20 -fobjc-arc
                          -target ${target} ${flags} "${probeSource}"
                  OUTPUT_QUIET ERROR_QUIET RESULT_VARIABLE failed)
  if(NOT failed)
    set(${result} "${flags}" PARENT_SCOPE)
  endif()
endfunction()
