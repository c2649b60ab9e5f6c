# Warnings and sanitizers applied to every target of the project.
add_library(corvalle_options INTERFACE)
target_compile_options(corvalle_options INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
  -Wnon-virtual-dtor -Wold-style-cast -Woverloaded-virtual
  -Wimplicit-fallthrough)
if(CORVALLE_WERROR)
  target_compile_options(corvalle_options INTERFACE -Werror)
endif()
# A release build is hardened as Debian builds its packages: checked buffer
# functions, and relocations resolved at start so that they can stay read-only.
# The compiler may define _FORTIFY_SOURCE itself (Ubuntu's does), hence the -U.
target_compile_options(corvalle_options INTERFACE
  $<$<CONFIG:Release>:-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2>)
target_link_options(corvalle_options INTERFACE $<$<CONFIG:Release>:LINKER:-z,relro,-z,now>)
if(CORVALLE_SANITIZE)
  target_compile_options(corvalle_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(corvalle_options INTERFACE -fsanitize=address,undefined)
endif()
