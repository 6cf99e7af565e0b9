# Bluetooth classic: the logic shared by every system, then each system's
# sockets and searches.
list(APPEND VEXA_DEVICE_SOURCES
  src/io/bth/bth.cpp
  src/io/bth/bth_address.cpp
  src/io/bth/bth_search.cpp
)
if(WIN32)
  list(APPEND VEXA_DEVICE_SOURCES src/io/bth/bth_link_win.cpp src/io/bth/bth_radio_win.cpp)
  list(APPEND VEXA_DEVICE_PLATFORM_LIBS ws2_32 bthprops user32)
else()
  list(APPEND VEXA_DEVICE_SOURCES src/io/bth/bth_link_linux.cpp src/io/bth/bth_radio_linux.cpp)
endif()
