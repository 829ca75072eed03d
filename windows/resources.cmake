# Windows resources for every program: the manifest, a version resource carrying the
# project version, and for the program itself the window icon, drawn at build time by
# windows/draw-icon.py. Nothing on other systems.
#
# The manifest (windows/norvalume.manifest, kept free of comments for the system's strict
# reader) asks to run as invoked: without it a copy under Program Files would have its
# writes to the settings file silently redirected to the user's VirtualStore. It names
# Windows Vista, 7, 8, 8.1 and 10/11 as supported, so none of them applies old-program
# compatibility behaviour.
if(WIN32)
  enable_language(RC)
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(NORVALUME_ICON ${CMAKE_BINARY_DIR}/generated/norvalume.ico)
  add_custom_command(OUTPUT ${NORVALUME_ICON}
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/windows/draw-icon.py ${NORVALUME_ICON}
    DEPENDS ${CMAKE_SOURCE_DIR}/windows/draw-icon.py
    COMMENT "Drawing the window icon")
endif()

# norvalume_windows_resources(TARGET "File description" [ICON])
function(norvalume_windows_resources target description)
  if(NOT WIN32)
    return()
  endif()
  set(NORVALUME_RC_TARGET ${target})
  set(NORVALUME_RC_DESCRIPTION "${description}")
  set(NORVALUME_RC_MANIFEST ${CMAKE_SOURCE_DIR}/windows/norvalume.manifest)
  set(NORVALUME_RC_ICON "")
  if("ICON" IN_LIST ARGN)
    # The id the window class loads its icon by (platform/win32/loop.cpp).
    set(NORVALUME_RC_ICON "102 ICON \"${NORVALUME_ICON}\"")
  endif()
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/windows/program.rc.in ${rc} @ONLY)
  set(depends ${NORVALUME_RC_MANIFEST})
  if(NORVALUME_RC_ICON)
    list(APPEND depends ${NORVALUME_ICON})
    target_sources(${target} PRIVATE ${NORVALUME_ICON})
  endif()
  set_source_files_properties(${rc} PROPERTIES OBJECT_DEPENDS "${depends}")
  target_sources(${target} PRIVATE ${rc})
endfunction()
