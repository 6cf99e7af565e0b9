using System;
using UnityEngine.Events;

namespace Vexa
{
    // The inspector's event types of VexaDeviceBehaviour (named subclasses,
    // which every Unity version serialises).

    // The connected device's path.
    [Serializable]
    public class VexaConnectedEvent : UnityEvent<string>
    {
    }

    // The reason: the device's, 1 when nothing arrived for 2 s,
    // VexaDeviceWorker.ReasonEnded or VexaDeviceWorker.ReasonFailure.
    [Serializable]
    public class VexaDisconnectedEvent : UnityEvent<int>
    {
    }

    // Code (the library's, or 0), message, detail.
    [Serializable]
    public class VexaFailureEvent : UnityEvent<int, string, string>
    {
    }

    // Clock source, clock value, input, new state.
    [Serializable]
    public class VexaDigitalInputEvent : UnityEvent<int, int, int, bool>
    {
    }

    // Instants the sample ring dropped since Connect.
    [Serializable]
    public class VexaSampleRingOverflowEvent : UnityEvent<long>
    {
    }

    // Which links a "scan" port searches.
    public enum VexaScanDomain
    {
        All,
        BTH,
        BLE,
        USB,
    }
}
