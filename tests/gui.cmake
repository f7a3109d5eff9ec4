# The windows, offscreen.
add_library(velmar_guitestsupport STATIC gui/BoxWatcher.h gui/BoxWatcher.cpp)
target_include_directories(velmar_guitestsupport PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/gui)
target_link_libraries(velmar_guitestsupport PUBLIC Qt6::Widgets)

velmar_add_test(test_frmlog SOURCES gui/test_frmlog.cpp LIBS velmar_gui)

velmar_add_test(test_frmmain SOURCES gui/test_frmmain.cpp gui/GuiTestSupport.h LIBS velmar_gui)
target_compile_definitions(test_frmmain PRIVATE VELMAR_TEST_PROJECT_VERSION="${PROJECT_VERSION}")

velmar_add_test(test_guimessenger SOURCES gui/test_guimessenger.cpp LIBS velmar_gui velmar_guitestsupport)

velmar_add_test(test_gui_copy SOURCES gui/test_gui_copy.cpp gui/GuiTestSupport.h JobFixture.h JobFixture.cpp
                LIBS velmar_gui velmar_guitestsupport velmar_mariadb SERVER)
target_include_directories(test_gui_copy PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
