# Runs tools/layer_rule.cmake over small trees of one source each and checks
# that it passes what the layer rule allows and names the file it does not.
#
#   cmake -DROOT=<project root> -DWORK=<scratch folder> -P layer_rule_test.cmake

cmake_minimum_required(VERSION 3.25)

set(failures 0)

# layer_case(<pass|fail> <source path> <source text>)
function(layer_case expected source text)
  string(MAKE_C_IDENTIFIER "${source}" tree)
  set(tree "${WORK}/${tree}")
  file(REMOVE_RECURSE "${tree}")
  file(WRITE "${tree}/${source}" "${text}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${tree} -P ${ROOT}/tools/layer_rule.cmake
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(expected STREQUAL "pass" AND NOT result EQUAL 0)
    message("${source} should pass:\n${output}")
    math(EXPR failures "${failures} + 1")
  elseif(expected STREQUAL "fail" AND (result EQUAL 0 OR NOT output MATCHES "${source}: "))
    message("${source} should fail, naming itself:\n${output}")
    math(EXPR failures "${failures} + 1")
  endif()
  set(failures ${failures} PARENT_SCOPE)
endfunction()

layer_case(fail runtime/core/posix.cpp [=[#include <cstdint>
#include <unistd.h>]=])
layer_case(fail app/ioctl.cpp [=[#include <sys/ioctl.h>]=])
layer_case(fail runtime/input/spaced.h [=[  #  include   <termios.h>]=])
layer_case(fail app/windows.cpp [=[#include <windows.h>]=])
layer_case(fail runtime/console/c_header.cpp [=[#include <stdio.h>]=])
layer_case(fail runtime/console/platform_inside.cpp [=[#include "platform/posix/posix_io.h"]=])
layer_case(fail runtime/input/relative.cpp [=[#include "keyboard.h"]=])
layer_case(fail runtime/core/macro.cpp [=[#define HEADER <unistd.h>
#include HEADER]=])
layer_case(fail app/next.h [=[#include_next <cstdio>]=])
# Upward edges: a layer including from one that stands on it.
layer_case(fail runtime/core/text.cpp [=[#include "app/digits.h"]=])
layer_case(fail runtime/core/startup.cpp [=[#include "runtime/console/handle.h"]=])
layer_case(fail runtime/console/console_print.cpp [=[#include "runtime/input/keyboard.h"]=])
layer_case(fail runtime/input/keyboard.h [=[#include "app/program_text.h"]=])
# A folder that is no layer, and a header of one.
layer_case(fail runtime/extra/stray.cpp [=[#include <cstdint>]=])
layer_case(fail app/stray.cpp [=[#include "runtime/extra/stray.h"]=])
layer_case(pass runtime/core/allowed.cpp [=[#include <cstdint>
#include <string_view>
#include "platform/console_api.h"
#include "runtime/core/text.h"
// A comment may say #include <unistd.h> or #include "app/digits.h".]=])
layer_case(pass runtime/input/allowed.cpp [=[#include "runtime/input/keyboard.h"
#include "runtime/console/handle.h"
#include "runtime/core/text.h"]=])
layer_case(pass app/allowed.cpp [=[#include "app/digits.h"
#include "runtime/input/keyboard.h"
#include "runtime/console/geometry.h"
#include "runtime/core/startup.h"]=])

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} case(s) went wrong")
endif()
