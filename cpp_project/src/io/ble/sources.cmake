# Sources of this transport, appended to the device library.
list(APPEND VEXA_DEVICE_SOURCES
  src/io/ble/ble.cpp
  src/io/ble/ble_search.cpp
  src/io/ble/bgapi.cpp
  src/io/ble/com_ble.cpp
  src/io/ble/com_ble_read.cpp
  src/io/ble/com_ble_waits.cpp
  src/io/ble/dongle_ports.cpp
  src/io/ble/find_dongle.cpp
  src/io/ble/friendly_name.cpp
)
if(WIN32)
  list(APPEND VEXA_DEVICE_SOURCES src/io/ble/dongle_ports_win.cpp)
  list(APPEND VEXA_DEVICE_PLATFORM_LIBS setupapi)
else()
  list(APPEND VEXA_DEVICE_SOURCES src/io/ble/dongle_ports_linux.cpp)
endif()
