# Sources of this transport, appended to the device library.
