# Installs the build into a temporary prefix and checks the installed
# library as a client sees it: its SONAME, that it exports its qx:: API and
# nothing else, that its headers stand alone without Qt or anything not
# installed, and that a separate program builds against it with find_package
# and with pkg-config, reads a header and writes a full-edition landing page.
# Also that qxweb's manual page and bash completion are installed where man
# and bash-completion look.
#
# cmake -DBUILD_DIR= -DWORK_DIR= -DCONSUMER_DIR= -DHEADER= -DLIBDIR= -DMANDIR=
#       -DDATADIR= -DCXX= -DCXX_FLAGS= -DLINKER_FLAGS= -DGENERATOR= -DMAKE_PROGRAM=
#       -P this

cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE result OUTPUT_VARIABLE out
                  ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGV}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
set(includes ${prefix}/include/qxwebcore)
set(library ${prefix}/${LIBDIR}/libqxwebcore.so.1)
separate_arguments(cxx_flags UNIX_COMMAND "${CXX_FLAGS}")
separate_arguments(linker_flags UNIX_COMMAND "${LINKER_FLAGS}")
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# qxweb's manual page, and its completion, which defines and registers _qxweb.
if(NOT EXISTS ${prefix}/${MANDIR}/man1/qxweb.1.gz)
  message(FATAL_ERROR "qxweb.1.gz is not installed in ${MANDIR}/man1")
endif()
set(completion ${prefix}/${DATADIR}/bash-completion/completions/qxweb)
run(bash -c "source \"$1\" && complete -p qxweb" bash ${completion})
if(NOT run_output MATCHES "-F _qxweb qxweb")
  message(FATAL_ERROR "the installed completion does not register _qxweb: ${run_output}")
endif()

# The SONAME, and the development link to it.
run(readelf -d ${library})
if(NOT run_output MATCHES "Library soname: \\[libqxwebcore\\.so\\.1\\]")
  message(FATAL_ERROR "wrong SONAME:\n${run_output}")
endif()
if(NOT EXISTS ${prefix}/${LIBDIR}/libqxwebcore.so)
  message(FATAL_ERROR "libqxwebcore.so is not installed")
endif()

# Headers: only the public ones, each compiling on its own against the
# installed tree alone, none including Qt or a header that is not installed.
file(GLOB_RECURSE headers RELATIVE ${includes} ${includes}/*.h)
list(LENGTH headers header_count)
if(header_count LESS 20 OR NOT "qxwebcore_export.h" IN_LIST headers)
  message(FATAL_ERROR "installed headers missing: ${headers}")
endif()
set(all_header_text "")
foreach(header IN LISTS headers)
  if(header MATCHES "scripted_user_interface|codec_state|member_format|compressor|expander")
    message(FATAL_ERROR "internal or test-only header installed: ${header}")
  endif()
  file(READ ${includes}/${header} text)
  string(APPEND all_header_text "${text}")
  string(REGEX MATCHALL "#include [<\"][^>\"]+[>\"]" lines "${text}")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#include [<\"]([^>\"]+)[>\"]" "\\1" included "${line}")
    if(included MATCHES "^Q")
      message(FATAL_ERROR "${header} includes Qt: ${line}")
    endif()
    if(line MATCHES "\"" AND NOT EXISTS ${includes}/${included})
      message(FATAL_ERROR "${header} includes ${included}, which is not installed")
    endif()
  endforeach()
  string(MAKE_C_IDENTIFIER "${header}" stem)
  file(WRITE ${WORK_DIR}/headers/${stem}.cpp "#include \"${header}\"\n")
  run(${CXX} ${cxx_flags} -std=c++20 -fsyntax-only -I${includes}
      ${WORK_DIR}/headers/${stem}.cpp)
endforeach()

# Exports: qx:: symbols only (no standard-library code, no zlib or
# libcrypto), none from internal namespaces, each named in a public header.
run(nm -D --defined-only -C ${library})
string(REPLACE "\n" ";" symbols "${run_output}")
set(exported 0)
foreach(line IN LISTS symbols)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^[0-9a-f]* *[A-Za-z] " "" symbol "${line}")
  if(NOT symbol MATCHES "^(qx::|typeinfo for qx::|typeinfo name for qx::|vtable for qx::)")
    message(FATAL_ERROR "exported symbol outside the API: ${symbol}")
  endif()
  if(symbol MATCHES "detail::|anonymous namespace")
    message(FATAL_ERROR "internal symbol exported: ${symbol}")
  endif()
  string(REGEX REPLACE "^(typeinfo name for |typeinfo for |vtable for )" "" name "${symbol}")
  string(REGEX REPLACE "[[(].*$" "" name "${name}")
  string(REGEX REPLACE "^.*::~?" "" name "${name}")
  string(FIND "${all_header_text}" "${name}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "exported symbol named in no public header: ${symbol}")
  endif()
  math(EXPR exported "${exported} + 1")
endforeach()
foreach(needed ReadPackageHeader WritePackageHeader WriteHeaderText CheckStoredFile DigestNew
               ValidatePackageFiles SetCacheRoot WidthListAdd CompressFile
               ReadProfileString CreateDirectoryPath WriteLandingPage "vtable for qx::ListBox")
  string(FIND "${run_output}" "${needed}" found)
  if(found EQUAL -1)
    message(FATAL_ERROR "${needed} is not exported")
  endif()
endforeach()

# A program of its own, through the CMake package ...
set(consumer_build ${WORK_DIR}/consumer-build)
run(${CMAKE_COMMAND} -S ${CONSUMER_DIR} -B ${consumer_build} -G ${GENERATOR}
    -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM} -DCMAKE_CXX_COMPILER=${CXX}
    "-DCMAKE_CXX_FLAGS=${CXX_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${LINKER_FLAGS}"
    -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${consumer_build})
run(${consumer_build}/consumer ${HEADER} ${WORK_DIR}/page.htm)
if(NOT run_output STREQUAL "Demo: 4 entries\n")
  message(FATAL_ERROR "unexpected output: ${run_output}")
endif()
# file(READ) drops carriage returns: the line ends are counted in hex (the
# page is ASCII, so no pair of digits can match across two bytes).
file(READ ${WORK_DIR}/page.htm page)
file(READ ${WORK_DIR}/page.htm page_hex HEX)
string(REGEX MATCHALL "0d0a" crlf "${page_hex}")
string(REGEX MATCHALL "0a" lf "${page_hex}")
list(LENGTH crlf crlf_count)
list(LENGTH lf lf_count)
if(NOT crlf_count EQUAL 40 OR NOT lf_count EQUAL 40 OR NOT page MATCHES "<b>Demo</b> package\\.\n"
   OR NOT page MATCHES "Tarnwick Web Sealer\\.</em></p>\n")
  message(FATAL_ERROR "not the full edition's page (${crlf_count} line ends):\n${page}")
endif()

# ... and through pkg-config.
set(ENV{PKG_CONFIG_PATH} ${prefix}/${LIBDIR}/pkgconfig)
run(pkg-config --cflags --libs qxwebcore)
separate_arguments(pc_flags UNIX_COMMAND "${run_output}")
run(${CXX} ${cxx_flags} ${CONSUMER_DIR}/main.cpp ${pc_flags} ${linker_flags}
    -o ${WORK_DIR}/consumer-pc)
set(ENV{LD_LIBRARY_PATH} ${prefix}/${LIBDIR})
run(${WORK_DIR}/consumer-pc ${HEADER} ${WORK_DIR}/page-pc.htm)
run(${CMAKE_COMMAND} -E compare_files ${WORK_DIR}/page.htm ${WORK_DIR}/page-pc.htm)
message(STATUS "installed library checked: ${exported} exported symbols, ${header_count} headers")
file(REMOVE_RECURSE ${WORK_DIR})
