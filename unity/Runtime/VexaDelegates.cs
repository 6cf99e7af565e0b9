using System;
using System.Runtime.InteropServices;

namespace Vexa
{
    // The handler signatures of the library, cdecl like every export.
    // Strings arrive as pointers: they are valid only during the call.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void NewDeviceFoundHandler(IntPtr path);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void RawDataHandler(int nSeq, IntPtr samples, int nChannels);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void ExceptionRaisedHandler(int code, IntPtr message);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void DisconnectEventHandler(int reason);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void DigInEventHandler(int clockSource, int clockValue, int input,
                                           [MarshalAs(UnmanagedType.I1)] bool state);

    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void LogHandler(int level, IntPtr message);

    // One session event (a VexaNativeEvent), valid during the call only.
    [UnmanagedFunctionPointer(CallingConvention.Cdecl)]
    public delegate void SessionEventHandler(IntPtr nativeEvent);
}
