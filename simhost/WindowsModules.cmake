# The host on Windows: X-Plane's two SDK modules by their own names, XPLM_64.dll and XPWidgets_64.dll,
# and an opengl32.dll that records the immediate-mode calls, so a plug-in binds to them by its import
# table. XPLM_64.dll holds the whole host and exports only the XPLM names (and the host's C++ face for
# the runner and tests); the widget and OpenGL names are exported from it under a "simhost_" prefix,
# and the other two modules forward each of their names to that, so an import from the wrong module
# fails to load here as it does in X-Plane.

# Every runtime piece in one folder, where the loader looks first: the host, its modules, the tests,
# and the mingw runtime libraries they share (one C++ runtime for the host and its tests).
set(SIMHOST_BIN_DIR ${CMAKE_BINARY_DIR}/bin)
set(SIMHOST_LIBRARY_DIR ${SIMHOST_BIN_DIR})
set(SIMHOST_BIN_DIR ${SIMHOST_BIN_DIR} PARENT_SCOPE)
set_target_properties(simhost PROPERTIES PREFIX "" OUTPUT_NAME XPLM_64 RUNTIME_OUTPUT_DIRECTORY ${SIMHOST_BIN_DIR})
foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                  OUTPUT_VARIABLE runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${runtime_path}")
    # winpthreads lives in the target's library folder, which the compiler does not search for DLLs.
    find_file(runtime_path ${runtime} PATHS /usr/x86_64-w64-mingw32/lib NO_CACHE REQUIRED)
  endif()
  file(COPY ${runtime_path} DESTINATION ${SIMHOST_BIN_DIR})
endforeach()

# The SDK names, read from our headers as the plug-in's import libraries are made.
include(${CMAKE_SOURCE_DIR}/packaging/SdkImportLibraries.cmake)
file(GLOB simhost_widget_headers ${CMAKE_SOURCE_DIR}/sdk/Widgets/*.h)
skorvale_sdk_names(simhost_widget_names WIDGET_API ${simhost_widget_headers})
set(simhost_gl_names glColor4f glBegin glVertex2f glEnd)

# XPLM_64.dll: everything exported but the forwarded names, which go out under the prefix instead.
set(xplm_def "EXPORTS\n")
foreach(name ${simhost_widget_names} ${simhost_gl_names})
  string(APPEND xplm_def "  simhost_${name} = ${name}\n")
endforeach()
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/XPLM_64.def "${xplm_def}")
string(REPLACE ";" "," simhost_forwarded "${simhost_widget_names};${simhost_gl_names}")
target_sources(simhost PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/XPLM_64.def)
# -Xlinker, since -Wl would split the list at its commas.
target_link_options(simhost PRIVATE -Wl,--export-all-symbols -Wl,--exclude-libs,ALL
                    "SHELL:-Xlinker --exclude-symbols -Xlinker ${simhost_forwarded}")
target_link_libraries(simhost PRIVATE ws2_32)

# The forwarding modules: no code of their own, one forwarder per name.
function(simhost_forwarding_module target dll names)
  set(def "LIBRARY ${dll}\nEXPORTS\n")
  foreach(name ${names})
    string(APPEND def "  ${name} = XPLM_64.simhost_${name}\n")
  endforeach()
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.def "${def}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/${target}.c "/* Forwards every export to XPLM_64.dll. */\ntypedef int simhost_no_code;\n")
  add_library(${target} SHARED ${CMAKE_CURRENT_BINARY_DIR}/${target}.c ${CMAKE_CURRENT_BINARY_DIR}/${target}.def)
  set_target_properties(${target} PROPERTIES PREFIX "" OUTPUT_NAME ${dll} RUNTIME_OUTPUT_DIRECTORY ${SIMHOST_BIN_DIR})
  # The loader resolves a forwarder by loading XPLM_64.dll itself: nothing to link against.
  add_dependencies(${target} simhost)
endfunction()
simhost_forwarding_module(XPWidgets_64 XPWidgets_64 "${simhost_widget_names}")
simhost_forwarding_module(simhost_opengl32 opengl32 "${simhost_gl_names}")
