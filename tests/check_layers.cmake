# hostsim's layers, as the README's "hostsim's layers" lists them: a file may
# include files of its own layer and of the layers below it, never above. The
# module (module/, framework/, nodes/) includes only its own files and host/:
# it reaches the host through the published interface alone.
#
#   cmake -DROOT=<source tree> -P check_layers.cmake
#
# Fails naming every include that breaks the rule, and every hostsim file
# that is in no layer (a new file is given its layer here and in the README).

if(NOT ROOT)
  message(FATAL_ERROR "ROOT is not set")
endif()

# The layers, lowest first: a path, or a folder with a trailing slash.
set(layer0 host/ hostsim/error.h hostsim/paths.h hostsim/names.h)
set(layer1 hostsim/loader.h hostsim/loader.cpp hostsim/callbacks.h)
set(layer2 hostsim/checks.h hostsim/checks.cpp hostsim/services/ hostsim/host.h hostsim/host.cpp)
set(layer3 hostsim/network.h hostsim/network.cpp hostsim/validate.h hostsim/validate.cpp)
set(layer4 hostsim/scene/)
set(layer5 hostsim/render/)
set(layer6 hostsim/doc/)
set(layer7 hostsim/cli/)
set(names foundation loader services network scene render doc cli)
set(module module/ framework/ nodes/)

# The layer of a path relative to ROOT, or -1 for none.
function(layer_of path out)
  foreach(i RANGE 7)
    foreach(entry IN LISTS layer${i})
      if(path STREQUAL entry OR (entry MATCHES "/$" AND path MATCHES "^${entry}"))
        set(${out} ${i} PARENT_SCOPE)
        return()
      endif()
    endforeach()
  endforeach()
  set(${out} -1 PARENT_SCOPE)
endfunction()

function(in_module path out)
  set(${out} FALSE PARENT_SCOPE)
  foreach(entry IN LISTS module)
    if(path MATCHES "^${entry}")
      set(${out} TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

file(GLOB_RECURSE files RELATIVE ${ROOT} ${ROOT}/hostsim/*.h ${ROOT}/hostsim/*.cpp ${ROOT}/module/*.h
     ${ROOT}/module/*.cpp ${ROOT}/module/*.c ${ROOT}/framework/*.h ${ROOT}/framework/*.cpp ${ROOT}/nodes/*.h
     ${ROOT}/nodes/*.cpp)
if(NOT files)
  message(FATAL_ERROR "no sources under ${ROOT}")
endif()

set(faults "")
set(count 0)
foreach(file IN LISTS files)
  layer_of(${file} mine)
  in_module(${file} moduleFile)
  if(mine EQUAL -1 AND NOT moduleFile)
    list(APPEND faults "${file}: in no layer")
  endif()
  file(STRINGS ${ROOT}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line IN LISTS includes)
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\".*" "\\1" target "${line}")
    math(EXPR count "${count} + 1")
    if(moduleFile)
      in_module(${target} targetInModule)
      if(NOT targetInModule AND NOT target MATCHES "^host/" AND target MATCHES "/")
        list(APPEND faults "${file}: includes ${target}, but the module reaches the host only through host/")
      endif()
      continue()
    endif()
    layer_of(${target} theirs)
    if(theirs GREATER mine)
      list(GET names ${mine} low)
      list(GET names ${theirs} high)
      list(APPEND faults "${file} (${low}) includes ${target} (${high}), a higher layer")
    endif()
  endforeach()
endforeach()

if(faults)
  foreach(fault IN LISTS faults)
    message(NOTICE "layers: ${fault}")
  endforeach()
  list(LENGTH faults n)
  message(FATAL_ERROR "${n} includes or files break the layers")
endif()
list(LENGTH files n)
message(STATUS "${n} files, ${count} includes, every one downward or within its layer")
