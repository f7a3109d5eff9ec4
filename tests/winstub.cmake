# Under Wine the copy tests reach the build machine's mysqldump and mysql, and the version tests
# its MinGW binutils, through stand-ins of those names (see winstub/ElfStandIn.cpp), placed beside
# the test programs.
if(WIN32)
  foreach(name mysqldump mysql x86_64-w64-mingw32-windres x86_64-w64-mingw32-ld
               i686-w64-mingw32-windres i686-w64-mingw32-ld)
    add_executable(standin_${name} winstub/ElfStandIn.cpp)
    set_target_properties(standin_${name} PROPERTIES OUTPUT_NAME ${name} AUTOMOC OFF)
    target_compile_definitions(standin_${name} PRIVATE UNICODE _UNICODE)
    target_link_options(standin_${name} PRIVATE -municode -static)
  endforeach()
endif()

# On Windows the self-update tests' stand-ins are the tests' own tool under other names.
if(TARGET test_autoupdate AND TARGET velmar_testtool)
  add_dependencies(test_autoupdate velmar_testtool)
endif()
