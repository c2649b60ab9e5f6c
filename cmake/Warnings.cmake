# Warnings and sanitizers applied to every target of the project.
add_library(corvalle_options INTERFACE)
target_compile_options(corvalle_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
  -Wimplicit-fallthrough)
if(CORVALLE_WERROR)
  target_compile_options(corvalle_options INTERFACE -Werror)
endif()
if(CORVALLE_SANITIZE)
  target_compile_options(corvalle_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(corvalle_options INTERFACE -fsanitize=address,undefined)
endif()
