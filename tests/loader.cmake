# velmar's own SQL loader.
velmar_add_test(test_loader SOURCES test_loader.cpp LIBS velmar_loader velmar_mariadb SERVER)

# Benchmark (prints figures; not a test): scripts/bench-import runs it.
add_executable(bench_import bench_import.cpp)
target_link_libraries(bench_import PRIVATE velmar_loader velmar_mariadb Qt6::Core)
