# The windows: FrmMain, FrmLog and the messenger that shows the copy's boxes and log in them.
add_library(velmar_gui STATIC
  UiFont.h UiFont.cpp
  FrmLog.h FrmLog.cpp
  GuiMessenger.h GuiMessenger.cpp
  FrmMain.h FrmMain.cpp
)
target_include_directories(velmar_gui PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(velmar_gui PUBLIC velmar_job velmar_update Qt6::Widgets)

add_executable(velmar WIN32 main.cpp ScreenshotMode.h ScreenshotMode.cpp)
target_link_libraries(velmar PRIVATE velmar_gui)
