# The layer rule: outside platform/, code reaches the system only through
# platform/console_api.h. Sources in runtime/ and app/ may include
#   - headers of runtime/ and app/, named from the project root,
#   - platform/console_api.h,
#   - the C++ standard library,
# and nothing else: no POSIX or other system header, no other platform/ file,
# no include whose target a macro hides.
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

set(strays 0)
foreach(layer runtime app)
  file(GLOB_RECURSE sources RELATIVE "${ROOT}" "${ROOT}/${layer}/*.h" "${ROOT}/${layer}/*.hpp"
       "${ROOT}/${layer}/*.inc" "${ROOT}/${layer}/*.cpp" "${ROOT}/${layer}/*.cc")
  foreach(source IN LISTS sources)
    file(STRINGS "${ROOT}/${source}" includes REGEX "^[ \t]*#[ \t]*include")
    foreach(line IN LISTS includes)
      set(why "")
      if(line MATCHES "^[ \t]*#[ \t]*include[ \t]*<([^>]*)>")
        if(NOT CMAKE_MATCH_1 IN_LIST standard_headers)
          set(why "not a C++ standard library header; system services come through platform/console_api.h")
        endif()
      elseif(line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\"")
        set(header "${CMAKE_MATCH_1}")
        if(NOT header STREQUAL "platform/console_api.h" AND NOT header MATCHES "^(runtime|app)/")
          set(why "only runtime/, app/ and platform/console_api.h, named from the project root")
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
