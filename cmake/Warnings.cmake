# Warnings are errors in our own code; third-party headers come in as system includes.
add_library(rp_warnings INTERFACE)
target_compile_options(rp_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast -Wcast-align
  -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough -Werror)
