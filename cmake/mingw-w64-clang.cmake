# Cross-compiles for 64-bit Windows with clang, against the headers and the runtime of the
# posix-threads mingw-w64 GCC that cmake/mingw-w64.cmake uses: a second compiler, so that
# code that only GCC accepts fails here. Everything else is as in that file.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
set(gu_mingw_gxx ${CMAKE_CXX_COMPILER})
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET x86_64-w64-mingw32)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_CXX_COMPILER_TARGET x86_64-w64-mingw32)

# Debian's clang finds the mingw-w64 C headers but not GCC's C++ library headers: name the
# include/c++ folders that GCC itself searches, in its order.
execute_process(COMMAND ${gu_mingw_gxx} -x c++ -E -v -o /dev/null /dev/null
                ERROR_VARIABLE gu_gxx_search OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n [^\n]*/include/c\\+\\+[^\n]*" gu_gxx_cxx_dirs "${gu_gxx_search}")
if(NOT gu_gxx_cxx_dirs)
  message(FATAL_ERROR "${gu_mingw_gxx} names no include/c++ folder:\n${gu_gxx_search}")
endif()
set(gu_cxx_flags -nostdinc++)
foreach(dir IN LISTS gu_gxx_cxx_dirs)
  string(STRIP "${dir}" dir)
  string(APPEND gu_cxx_flags " -isystem ${dir}")
endforeach()
set(CMAKE_CXX_FLAGS_INIT "${gu_cxx_flags}")

# GCC's libstdc++ and libgcc_eh, linked statically: clang's driver would name libstdc++
# before its own libgcc_eh, which then misses winpthreads, so the C++ libraries are named
# here, winpthreads after libgcc_eh.
execute_process(COMMAND ${gu_mingw_gxx} -print-libgcc-file-name
                OUTPUT_VARIABLE gu_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(gu_gcc_lib_dir "${gu_libgcc}" DIRECTORY)
# (The compile flags above reach the link line too, where -nostdinc++ means nothing.)
# LLVM's linker: GNU ld warns for every typeinfo name that clang emits unpadded and GCC's
# libstdc++ pads to 16 bytes in its same-size COMDAT sections ("duplicate section ... has
# different size"), hundreds of lines per build; lld takes one copy of these as they are.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=lld -nostdlib++ -L${gu_gcc_lib_dir} -Wno-unused-command-line-argument")
set(CMAKE_CXX_STANDARD_LIBRARIES "-lstdc++ -lgcc_eh -lwinpthread")
