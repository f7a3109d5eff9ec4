# Windows executables carry an icon and version information (a resource script written from the
# project version, compiled by windres); elsewhere a host tool writes that icon (scripts/make-icon).
set(VELMAR_ICON ${CMAKE_CURRENT_LIST_DIR}/velmar.ico)

function(velmar_add_version_resource target description)
  set(VELMAR_RC_NAME ${target})
  set(VELMAR_RC_FILE ${target}.exe)
  set(VELMAR_RC_DESCRIPTION "${description}")
  set(rc ${CMAKE_BINARY_DIR}/resources/${target}.rc)
  configure_file(${CMAKE_CURRENT_FUNCTION_LIST_DIR}/velmar.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
  set_property(SOURCE ${rc} APPEND PROPERTY OBJECT_DEPENDS ${VELMAR_ICON})
endfunction()

# Called once every folder has made its targets.
function(velmar_windows_targets)
  if(WIN32)
    velmar_add_version_resource(velmar "velmar - 서버의 DB를 로컬로 복사")
    velmar_add_version_resource(velmar-cli "velmar-cli - 서버의 DB를 로컬로 복사 (명령줄)")
  elseif(TARGET velmar_gui)
    add_executable(velmar-icon EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tools/IconWriter.cpp)
    target_link_libraries(velmar-icon PRIVATE velmar_gui)
  endif()
endfunction()

if(WIN32)
  enable_language(RC)
endif()
cmake_language(DEFER CALL velmar_windows_targets)
