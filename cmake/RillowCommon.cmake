# One interface target carries the warnings and defines every Rillow target shares.
add_library(rillow_common INTERFACE)
target_compile_options(rillow_common INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow=local -Wnon-virtual-dtor -Wcast-qual
  -Wformat=2 -Wimplicit-fallthrough -Wno-missing-field-initializers)
if(RILLOW_WERROR)
  target_compile_options(rillow_common INTERFACE -Werror)
endif()
target_compile_definitions(rillow_common INTERFACE
  QT_NO_KEYWORDS
  RILLOW_VERSION="${PROJECT_VERSION}")
target_include_directories(rillow_common INTERFACE ${PROJECT_SOURCE_DIR})

# rillow_library(name SOURCES ... DEPS ...): a subsystem's static library.
function(rillow_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_link_libraries(${name} PUBLIC rillow_common ${ARG_DEPS})
  set_target_properties(${name} PROPERTIES AUTOMOC ON POSITION_INDEPENDENT_CODE ON)
endfunction()
