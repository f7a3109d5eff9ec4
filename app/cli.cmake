# velmar-cli: the copy job from the command line, for scripts and machines without a display.
add_executable(velmar-cli velmar_cli.cpp CliMessenger.h CliMessenger.cpp)
target_link_libraries(velmar-cli PRIVATE velmar_job Qt6::Core)
