# Cross build for Windows x86_64 with Debian's MinGW-w64 (posix threads: the win32 variant lacks
# std::thread). VELMAR_WINTOOLS (a CMake variable or the environment) names the folder that holds
# qt6-mingw/ and mariadb-mingw/ (scripts/windows fills it). Qt's build tools (moc, rcc) come from
# the build machine's Qt of the same version.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VELMAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${VELMAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELMAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER  ${VELMAR_MINGW_PREFIX}-windres)
set(CMAKE_AR           /usr/bin/${VELMAR_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB       /usr/bin/${VELMAR_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

if(NOT VELMAR_WINTOOLS)
  set(VELMAR_WINTOOLS "$ENV{VELMAR_WINTOOLS}")
endif()
if(NOT VELMAR_WINTOOLS)
  message(FATAL_ERROR "Set VELMAR_WINTOOLS to the folder holding qt6-mingw/ and mariadb-mingw/")
endif()
# Test compilations read this file again in a fresh scope.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VELMAR_WINTOOLS)

set(CMAKE_FIND_ROOT_PATH
  /usr/${VELMAR_MINGW_PREFIX}
  ${VELMAR_WINTOOLS}/qt6-mingw
  ${VELMAR_WINTOOLS}/mariadb-mingw)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(QT_HOST_PATH /usr CACHE PATH "Build machine's Qt")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "Build machine's Qt CMake files")
