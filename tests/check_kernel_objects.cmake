# Fails when an object compiled for wide instructions defines a weak or
# vague-linkage symbol: the linker could keep that copy for the whole module,
# and processors without those instructions would run it.
#   cmake -DNM=nm -DOBJECTS=a.o;b.o -P check_kernel_objects.cmake
set(checked 0)
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "(objective|points)_avx")
    continue()
  endif()
  execute_process(COMMAND ${NM} ${object} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${object}")
  endif()
  string(REGEX MATCHALL "[^\n]* [WVu] [^\n]*" weak "${symbols}")
  if(weak)
    message(FATAL_ERROR "${object} defines weak symbols:\n${weak}")
  endif()
  math(EXPR checked "${checked} + 1")
endforeach()
message(STATUS "checked ${checked} wide kernel objects")
