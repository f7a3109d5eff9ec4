# Self-update against a local HTTP server, with a fake updater and file changer.
velmar_add_test(test_selfupdate
  SOURCES test_selfupdate.cpp PeFixture.h PeFixture.cpp LocalHttpServer.h LocalHttpServer.cpp
  LIBS velmar_update Qt6::Network)
velmar_add_test(test_autoupdate
  SOURCES test_autoupdate.cpp LocalHttpServer.h LocalHttpServer.cpp
  LIBS velmar_update Qt6::Network)
