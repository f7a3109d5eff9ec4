# The runner's tests start this program, built beside them, instead of the platform's own tools.
add_executable(velmar_testtool tools/TestTool.cpp)
target_link_libraries(velmar_testtool PRIVATE Qt6::Core)
add_dependencies(test_waitproc velmar_testtool)
