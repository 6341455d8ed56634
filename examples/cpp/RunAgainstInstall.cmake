# Installs the build tree into WORK_DIR/prefix, builds this example against that prefix with
# find_package, runs it on the simulated camera, and imports the installed Python module.
# Run by ctest: cmake -DBUILD_DIR=... -DEXAMPLE_SOURCE_DIR=... -DWORK_DIR=... -P <this file>
foreach(variable BUILD_DIR EXAMPLE_SOURCE_DIR WORK_DIR GENERATOR CXX_COMPILER)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "${variable} is not set")
  endif()
endforeach()

function(run_step what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${what} failed (${result}):\n${output}")
  endif()
  set(step_output "${output}" PARENT_SCOPE)
endfunction()

set(prefix ${WORK_DIR}/prefix)
file(REMOVE_RECURSE ${WORK_DIR})

run_step("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
foreach(header core/QuarvelTOFCamera.h core/Types.h core/FrameBuffer.h)
  if(NOT EXISTS ${prefix}/include/QuarvelDepthCamera/${header})
    message(FATAL_ERROR "header ${header} was not installed")
  endif()
endforeach()

# Only the installed package may be found: nothing from the build tree. A cross build hands
# the example its toolchain (whose searches stay inside the target's root, so the package
# directory is named) and runs it under the emulator.
set(cross_options "")
if(TOOLCHAIN_FILE)
  file(GLOB_RECURSE package_config ${prefix}/*/QuarvelDepthCameraConfig.cmake)
  if(NOT package_config)
    message(FATAL_ERROR "the CMake package was not installed")
  endif()
  get_filename_component(package_dir ${package_config} DIRECTORY)
  set(cross_options -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN_FILE} -DQuarvelDepthCamera_DIR=${package_dir})
endif()
run_step("configure the example" ${CMAKE_COMMAND} -S ${EXAMPLE_SOURCE_DIR} -B ${WORK_DIR}/build
  -G ${GENERATOR} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${prefix}
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo ${cross_options})
run_step("build the example" ${CMAKE_COMMAND} --build ${WORK_DIR}/build)

run_step("run the example" ${EMULATOR} ${WORK_DIR}/build/capture_depth --connect usb --index 0
  --frames 10)
message("${step_output}")
if(NOT step_output MATCHES "captured 10 depth frames")
  message(FATAL_ERROR "the example did not capture its frames")
endif()
# The simulated camera looks at a room whose back wall, straight ahead, is 3 m away.
string(REGEX MATCHALL "centre [0-9]+" centres "${step_output}")
list(LENGTH centres centre_count)
if(NOT centre_count EQUAL 10)
  message(FATAL_ERROR "expected 10 centre distances, got ${centre_count}")
endif()
foreach(centre ${centres})
  string(REPLACE "centre " "" millimetres ${centre})
  if(millimetres LESS 2900 OR millimetres GREATER 3100)
    message(FATAL_ERROR "centre distance ${millimetres} mm is not the back wall at 3000 mm")
  endif()
endforeach()
file(STRINGS ${WORK_DIR}/build/CMakeCache.txt found_dir REGEX "^QuarvelDepthCamera_DIR:")
if(NOT found_dir MATCHES "${prefix}/")
  message(FATAL_ERROR "the example found the package outside the install prefix: ${found_dir}")
endif()

# The installed Python module loads and uses the installed native library.
if(PYTHON)
  file(GLOB_RECURSE installed_modules ${prefix}/*/QuarvelDepthCamera*.so)
  if(NOT installed_modules)
    message(FATAL_ERROR "the Python module was not installed")
  endif()
  list(GET installed_modules 0 module)
  get_filename_component(module_dir ${module} DIRECTORY)
  # Prints where the module and the native library it loaded come from.
  file(WRITE ${WORK_DIR}/where_from.py [=[
import QuarvelDepthCamera
import quarvel_tools
import quarvel.geometry
import quarvel.recording
# The quarvel package's extension loads the same installed library.
assert quarvel.geometry.intrinsics_for(240, 180).cx == 119.5
assert quarvel.__file__.startswith(QuarvelDepthCamera.__file__.rsplit("/", 1)[0])
print(QuarvelDepthCamera.__file__)
with open("/proc/self/maps") as maps:
    print(next(line.split()[-1] for line in maps if "libquarvel_depth_camera" in line))
print(QuarvelDepthCamera.__version__)
]=])
  run_step("import the installed module" ${CMAKE_COMMAND} -E env --unset=PYTHONPATH
    PYTHONPATH=${module_dir} ${PYTHON} ${WORK_DIR}/where_from.py)
  message("${step_output}")
  if(NOT step_output MATCHES "^${prefix}/[^\n]*\n${prefix}/[^\n]*libquarvel_depth_camera[^\n]*\ndev")
    message(FATAL_ERROR "the installed module did not load from the prefix with its library")
  endif()
  # The installed command runs the installed package.
  if(NOT TOOLCHAIN_FILE)
    run_step("run the installed quarvel command" ${CMAKE_COMMAND} -E env --unset=PYTHONPATH
      PYTHONPATH=${module_dir} ${prefix}/bin/quarvel record --help)
    if(NOT step_output MATCHES "usage: quarvel record")
      message(FATAL_ERROR "the installed quarvel command did not run:\n${step_output}")
    endif()
  endif()
endif()
