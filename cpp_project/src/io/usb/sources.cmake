# USB through FTDI's libraries, loaded at run time: the transport and its
# tables, then each system's library loading and event.
list(APPEND VEXA_DEVICE_SOURCES
  src/io/usb/ftdi_libraries.cpp
  src/io/usb/usb.cpp
)
if(WIN32)
  list(APPEND VEXA_DEVICE_SOURCES src/io/usb/rx_event_win.cpp src/io/usb/shared_library_win.cpp)
else()
  list(APPEND VEXA_DEVICE_SOURCES src/io/usb/rx_event_posix.cpp src/io/usb/shared_library_posix.cpp)
  list(APPEND VEXA_DEVICE_PLATFORM_LIBS ${CMAKE_DL_LIBS})
endif()
