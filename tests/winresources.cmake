# Icon and version information of the Windows executables (cmake/Windows.cmake).
velmar_add_test(test_winresources SOURCES test_winresources.cpp LIBS velmar_fileutil)
target_compile_definitions(test_winresources PRIVATE VELMAR_TEST_PROJECT_VERSION="${PROJECT_VERSION}")
if(TARGET velmar)
  add_dependencies(test_winresources velmar velmar-cli)
endif()
