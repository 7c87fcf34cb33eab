# The layer rule: each folder of runtime/ and app/ is one library standing on
# the ones below it, and outside platform/ code reaches the system only
# through platform/console_api.h. A source may include
#   - headers of its own folder and of the folders below it in the table
#     below, named from the project root,
#   - platform/console_api.h,
#   - the C++ standard library,
# and nothing else: no header of a folder above its own, no POSIX or other
# system header, no other platform/ file, no include whose target a macro
# hides.
#
#   cmake -DROOT=<project root> -P tools/layer_rule.cmake
#
# Lists every stray include and fails when there is one.

cmake_minimum_required(VERSION 3.25)

if(NOT ROOT)
  message(FATAL_ERROR "usage: cmake -DROOT=<project root> -P layer_rule.cmake")
endif()

set(standard_headers
  algorithm any array atomic barrier bit bitset charconv chrono codecvt compare
  complex concepts condition_variable coroutine deque exception execution
  filesystem format forward_list fstream functional future initializer_list
  iomanip ios iosfwd iostream istream iterator latch limits list locale map
  memory memory_resource mutex new numbers numeric optional ostream queue
  random ranges ratio regex scoped_allocator semaphore set shared_mutex
  source_location span sstream stack stdexcept stop_token streambuf string
  string_view syncstream system_error thread tuple type_traits typeindex
  typeinfo unordered_map unordered_set utility valarray variant vector version
  cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp
  csignal cstdarg cstddef cstdint cstdio cstdlib cstring ctime cuchar cwchar
  cwctype)

# The layers, lowest first: "<folder>:<the folders it stands on>".
set(layers
  "runtime/core:"
  "runtime/console:runtime/core"
  "runtime/input:runtime/console runtime/core"
  "app:runtime/input runtime/console runtime/core")

set(folders "")
foreach(entry IN LISTS layers)
  string(REGEX MATCH "^([^:]+):(.*)$" entry "${entry}")
  list(APPEND folders "${CMAKE_MATCH_1}")
  string(REPLACE " " ";" "below_${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}")
endforeach()

# The folder of `path` in the table, or "" for none.
function(layer_of path result)
  set(found "")
  foreach(folder IN LISTS folders)
    string(LENGTH "${folder}/" length)
    string(SUBSTRING "${path}" 0 ${length} prefix)
    if(prefix STREQUAL "${folder}/")
      set(found "${folder}")
    endif()
  endforeach()
  set(${result} "${found}" PARENT_SCOPE)
endfunction()

set(strays 0)
foreach(top runtime app)
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${top}/*.h" "${ROOT}/${top}/*.hpp"
       "${ROOT}/${top}/*.inc" "${ROOT}/${top}/*.cpp" "${ROOT}/${top}/*.cc")
  foreach(source IN LISTS sources)
    layer_of("${source}" layer)
    if(NOT layer)
      message("${source}: in no layer (folders: ${folders})")
      math(EXPR strays "${strays} + 1")
      continue()
    endif()
    file(STRINGS "${ROOT}/${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      set(why "")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>")
        if(NOT CMAKE_MATCH_1 IN_LIST standard_headers)
          set(why "not a C++ standard library header; system services come through platform/console_api.h")
        endif()
      elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\"")
        set(header "${CMAKE_MATCH_1}")
        layer_of("${header}" header_layer)
        if(NOT header_layer AND NOT header STREQUAL "platform/console_api.h")
          set(why "only the layers' headers and platform/console_api.h, named from the project root")
        elseif(header_layer AND NOT header_layer STREQUAL layer AND NOT header_layer IN_LIST below_${layer})
          set(why "${header_layer} is not below ${layer}")
        endif()
      else()
        set(why "an include this check cannot read (#include_next, or a macro)")
      endif()
      if(why)
        string(STRIP "${line}" line)
        message("${source}: ${line}: ${why}")
        math(EXPR strays "${strays} + 1")
      endif()
    endforeach()
  endforeach()
endforeach()

if(strays GREATER 0)
  message(FATAL_ERROR "${strays} include(s) break the layer rule")
endif()
