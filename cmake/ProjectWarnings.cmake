# One interface target carries the warning flags, so every target opts in the same way.
add_library(project_warnings INTERFACE)
target_compile_options(project_warnings INTERFACE -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
                                                  -Wold-style-cast -Woverloaded-virtual)
# GCC 12 at -O2 reports false positives inside libstdc++: -Wrestrict in std::string (GCC bug 105329)
# and -Wmaybe-uninitialized when assigning to a std::optional holding a container.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(project_warnings INTERFACE -Wno-restrict -Wno-maybe-uninitialized)
endif()
if(KESTROVA_WARNINGS_AS_ERRORS)
  target_compile_options(project_warnings INTERFACE -Werror)
endif()
