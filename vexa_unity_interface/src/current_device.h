// The exported pointer to the current device, as the plug-in's own code and
// its tests see it.
#ifndef VEXA_UNITY_CURRENT_DEVICE_H_
#define VEXA_UNITY_CURRENT_DEVICE_H_

#include "base_dev_unity.h"

extern "C" {
extern Vexa::BaseDevUnity* vexaDev;
}

#endif  // VEXA_UNITY_CURRENT_DEVICE_H_
