# Version information of executables; the fixtures are made with the MinGW binutils.
velmar_add_test(test_modfile SOURCES test_modfile.cpp PeFixture.h PeFixture.cpp LIBS velmar_fileutil)
