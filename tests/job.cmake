# The copy job and velmar-cli.
velmar_add_test(test_copyjob_rules SOURCES test_copyjob_rules.cpp LIBS velmar_job)
velmar_add_test(test_copyjob SOURCES test_copyjob.cpp JobFixture.h JobFixture.cpp LIBS velmar_job velmar_mariadb SERVER)
velmar_add_test(test_cli SOURCES test_cli.cpp JobFixture.h JobFixture.cpp LIBS velmar_job velmar_mariadb SERVER)
target_compile_definitions(test_cli PRIVATE VELMAR_CLI_PATH="$<TARGET_FILE:velmar-cli>")
add_dependencies(test_cli velmar-cli)

# Benchmark (prints figures; not a test): scripts/bench runs it.
add_executable(bench_rewrite bench_rewrite.cpp)
target_link_libraries(bench_rewrite PRIVATE velmar_job)
