# The settings store stays a throwaway file during tests.
velmar_add_test(test_settingsstore SOURCES test_settingsstore.cpp LIBS velmar_job)
