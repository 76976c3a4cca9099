# Links Ceres and what it needs from Debian's static archives instead of its shared libraries.
#
# Debian's Ceres is libceres.a already, but its link interface names the shared glog, gflags,
# SuiteSparse, CXSparse and ATLAS/LAPACK/BLAS libraries: some 25 shared objects whose loading and
# relocation take several times longer than the tool's own work on a typical run. The same code
# from the static archives costs nothing at start-up. libc and the loader stay dynamic, as for any
# Debian program. Two dependencies stay shared:
# - libunwind (glog's stack traces): its archive is not position-independent, so it cannot go
#   into a position-independent executable;
# - METIS (CHOLMOD's orderings): Debian ships it as a shared library only.
#
# Include after find_package(Ceres); it replaces the link interface of Ceres::ceres.

find_package(Threads REQUIRED)

set(_quorvane_static_archives)
# In link order: each archive before the ones it calls.
foreach(_name IN ITEMS glog gflags spqr cholmod ccolamd camd colamd amd suitesparseconfig cxsparse
                       lapack f77blas cblas atlas blas)
  find_library(QUORVANE_STATIC_${_name} NAMES lib${_name}.a REQUIRED)
  list(APPEND _quorvane_static_archives ${QUORVANE_STATIC_${_name}})
endforeach()

# The Fortran runtime (LAPACK is Fortran) and the OpenMP runtime (CHOLMOD's parallel loops) come
# with the compiler.
foreach(_name IN ITEMS gfortran quadmath gomp)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=lib${_name}.a
    OUTPUT_VARIABLE _archive OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${_archive}" OR NOT EXISTS "${_archive}")
    message(FATAL_ERROR "lib${_name}.a not found beside ${CMAKE_CXX_COMPILER}")
  endif()
  list(APPEND _quorvane_static_archives ${_archive})
endforeach()

find_library(QUORVANE_SHARED_unwind NAMES unwind REQUIRED)
find_library(QUORVANE_SHARED_metis NAMES metis libmetis.so.5 REQUIRED)

set_property(TARGET Ceres::ceres PROPERTY INTERFACE_LINK_LIBRARIES
  Eigen3::Eigen ${_quorvane_static_archives} ${QUORVANE_SHARED_unwind} ${QUORVANE_SHARED_metis}
  Threads::Threads ${CMAKE_DL_LIBS})
