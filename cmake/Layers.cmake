# Each top-level source folder is one static library (a layer) that links only
# the layers below it. A layer sees the headers of exactly the layers it links:
# its include root holds a single link named after the folder, so
# `#include "ui/mainwindow.h"` from core/ finds no such file and the build
# stops there instead of growing a dependency in the wrong direction.
#
#   wendral_add_layer(<folder> DEPENDS <targets...> [EXTRA_SOURCES <files...>])
#
# creates the target wendral_<folder> from every .cpp/.h/.ui below <folder>.
function(wendral_add_layer folder)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "" "DEPENDS;EXTRA_SOURCES")
  set(target wendral_${folder})
  file(GLOB_RECURSE sources CONFIGURE_DEPENDS
       ${CMAKE_SOURCE_DIR}/${folder}/*.cpp
       ${CMAKE_SOURCE_DIR}/${folder}/*.h
       ${CMAKE_SOURCE_DIR}/${folder}/*.ui)
  # main() belongs to the executable, not to the library.
  list(FILTER sources EXCLUDE REGEX "/(app|web)/main\\.cpp$")

  set(root ${CMAKE_BINARY_DIR}/layers/${folder})
  file(MAKE_DIRECTORY ${root})
  file(CREATE_LINK ${CMAKE_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)

  add_library(${target} STATIC ${sources} ${arg_EXTRA_SOURCES})
  target_include_directories(${target} PUBLIC ${root})
  target_compile_options(${target} PRIVATE ${WENDRAL_WARNINGS})
  target_link_libraries(${target} PUBLIC ${arg_DEPENDS})
endfunction()
