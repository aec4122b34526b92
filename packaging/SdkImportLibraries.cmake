# Import libraries of the simulator's XPLM_64.dll and XPWidgets_64.dll for the Windows plug-in, made
# from the functions our sdk/ headers declare: a build needs nothing of Laminar's to link.
#
# skorvale_sdk_import_library(TARGET DLL_NAME MACRO HEADER...) makes an IMPORTED target TARGET for
# the functions the headers declare with MACRO (XPLM_API or WIDGET_API), bound to DLL_NAME.
#
# skorvale_sdk_names(VAR MACRO HEADER...) sets VAR to those functions' names, sorted (the Windows host
# exports them from its modules of the same names).
function(skorvale_sdk_names var macro)
  set(names)
  foreach(header IN LISTS ARGN)
    file(STRINGS ${header} lines REGEX "^${macro} ")
    foreach(line IN LISTS lines)
      if(line MATCHES "^${macro} [^(]*[ *]([A-Za-z_][A-Za-z0-9_]*)\\(")
        list(APPEND names ${CMAKE_MATCH_1})
      endif()
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES names)
  list(SORT names)
  if(NOT names)
    message(FATAL_ERROR "no ${macro} functions found in the SDK headers")
  endif()
  set(${var} ${names} PARENT_SCOPE)
endfunction()

function(skorvale_sdk_import_library target dll macro)
  skorvale_sdk_names(names ${macro} ${ARGN})
  string(REPLACE ";" "\n" exports "${names}")
  set(def ${CMAKE_BINARY_DIR}/sdk-imports/${target}.def)
  set(lib ${CMAKE_BINARY_DIR}/sdk-imports/lib${target}.dll.a)
  set(text "LIBRARY ${dll}\nEXPORTS\n${exports}\n")
  set(old "")
  if(EXISTS ${def})
    file(READ ${def} old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE ${def} "${text}")
  endif()
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CMAKE_DLLTOOL} --input-def ${def} --dllname ${dll} --output-lib ${lib}
    DEPENDS ${def}
    COMMENT "Import library of ${dll} from the SDK headers")
  add_custom_target(${target}_implib DEPENDS ${lib})
  add_library(${target} SHARED IMPORTED GLOBAL)
  set_target_properties(${target} PROPERTIES IMPORTED_IMPLIB ${lib})
  add_dependencies(${target} ${target}_implib)
endfunction()
