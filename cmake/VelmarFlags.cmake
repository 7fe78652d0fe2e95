# velmar_flags: the language level, warnings and sanitizers shared by every target of ours.
# The language level is set here and nowhere else: C++20, without compiler extensions.
set(CMAKE_CXX_EXTENSIONS OFF)
add_library(velmar_flags INTERFACE)
target_compile_features(velmar_flags INTERFACE cxx_std_20)
target_compile_options(velmar_flags INTERFACE
  -Wall -Wextra -Wpedantic -Wconversion -Wshadow -Wold-style-cast -Wcast-qual -Wundef
  -Wformat=2 -Wimplicit-fallthrough -Wnon-virtual-dtor -Wno-sign-conversion)
if(VELMAR_WERROR)
  target_compile_options(velmar_flags INTERFACE -Werror)
endif()

# Symbols stay inside each binary unless exported by name (the module exports only its
# PyInit_ function); this is code generation, not a warning, so it is set apart.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)

# Sanitizers apply to everything built here, third-party test code included, so
# that instrumented and plain objects are never mixed.
if(VELMAR_SANITIZE)
  string(REPLACE ";" "," _velmar_san "${VELMAR_SANITIZE}")
  add_compile_options(-fsanitize=${_velmar_san} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_velmar_san})
endif()

# Coverage instrumentation for libFuzzer on everything; the fuzz targets link the runtime,
# which only clang provides.
if(VELMAR_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VELMAR_FUZZ needs clang for libFuzzer, but the compiler is "
                        "${CMAKE_CXX_COMPILER_ID}: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
