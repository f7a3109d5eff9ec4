# The windows: FrmMain, FrmLog and the messenger that shows the copy's boxes and log in them.
add_library(velmar_gui STATIC
  AppIcon.h AppIcon.cpp
  UiFont.h UiFont.cpp
  FrmLog.h FrmLog.cpp
  GuiMessenger.h GuiMessenger.cpp
  FrmMain.h FrmMain.cpp
)
target_include_directories(velmar_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(velmar_gui PUBLIC velmar_job velmar_update Qt6::Widgets)

add_executable(velmar WIN32 main.cpp)
target_link_libraries(velmar PRIVATE velmar_gui)

# The program with a picture-taking mode for the docs (scripts/screenshot). It presses the copy
# button by itself and answers every box with its default button, so it is never the program
# that users start.
add_executable(velmar-screenshot main.cpp ScreenshotMode.h ScreenshotMode.cpp)
target_compile_definitions(velmar-screenshot PRIVATE VELMAR_SCREENSHOT_MODE)
target_link_libraries(velmar-screenshot PRIVATE velmar_gui)
