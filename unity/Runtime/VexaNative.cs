using System;
using System.Runtime.InteropServices;

namespace Vexa
{
    // The library's C exports, one to one. Scripts normally use VexaDevice,
    // which registers the handlers and copies everything the library hands
    // over before it goes stale.
    //
    // Not declared: OnDataReceived takes a C++ std::vector by value, which
    // has no C layout and cannot be passed from C#; vexaDev is a data
    // symbol, not a function.
    public static class VexaNative
    {
        // libvexa_unity_interface.so on Linux, vexa_unity_interface.dll on
        // Windows: the runtime adds prefix and extension.
        public const string Library = "vexa_unity_interface";

        // Redirects the library's log (its standard output, which is the
        // whole process's) to vexa_logs_file.txt in the working directory.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int WelcomeFunction();

        // Texts go in as NUL-terminated UTF-8 (VexaText); each such export
        // also takes a string, converted that way.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void VexaDevUnity(byte[] path);

        public static void VexaDevUnity(string path)
        {
            VexaDevUnity(VexaText.ToUtf8(path));
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void DisconnectVexaDevUnity();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetNewDeviceFoundHandler(NewDeviceFoundHandler handler);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetOnRawDataHandler(RawDataHandler handler);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetOnExceptionRaisedHandler(ExceptionRaisedHandler handler);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetOnEventDetectedHandlers(DisconnectEventHandler disconnect,
                                                             DigInEventHandler digIn);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void OnNewDeviceFound(byte[] path);

        public static void OnNewDeviceFound(string path)
        {
            OnNewDeviceFound(VexaText.ToUtf8(path));
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void OnExceptionRaised(int code, byte[] message);

        public static void OnExceptionRaised(int code, string message)
        {
            OnExceptionRaised(code, VexaText.ToUtf8(message));
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void OnDisconnectEventDetected(int reason);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void OnDigInEventDetected(int clockSource, int clockValue, int input,
                                                       [MarshalAs(UnmanagedType.I1)] bool state);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void StartAcquisition(int baseFreq, byte[] channels, int nBits);

        public static void StartAcquisition(int baseFreq, string channels, int nBits)
        {
            StartAcquisition(baseFreq, VexaText.ToUtf8(channels), nBits);
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void StartAcquisitionByNbr(int baseFreq, int channelMask, int nBits);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void StartAcquisitionBySources(int baseFreq, [In] VexaSource[] sources, int nSources);

        // The second argument is not used by the library.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void StartAcquisitionStrandelo(int baseFreq, int ignored, int nBits, int channelFreq);

        // Blocks the calling thread until the loop ends; every frame and
        // event handler runs on that thread.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void StartLoop();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void InterruptAcquisition();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void StopAcquisition();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void GetDetectableDevices(byte[] domain);

        public static void GetDetectableDevices(string domain)
        {
            GetDetectableDevices(VexaText.ToUtf8(domain));
        }

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void GetAllDetectableDevices();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int GetProductId();

        // Static text owned by the library: read it as UTF-8
        // (VexaDevice.DeviceType), never let the marshaller free it.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr GetDeviceType();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int GetBattery();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int GetNbrChannels();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        [return: MarshalAs(UnmanagedType.I1)]
        public static extern bool GetCommunicationFlag();

        // dataType 1 reads data[0], dataType 2 reads data[0] and data[1].
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void SetParameter(int port, int index, [In] int[] data, int dataType);

        // --- Extension (VexaExt): failure details, the debug log, the version.

        // The cause of the last failure reported on the calling thread, or
        // "": library text valid until the next failure on this thread.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr VexaExtGetLastErrorDetail();

        // Levels 0 (off) to 4 (debug); the handler may run on any thread.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void VexaExtSetLogHandler(LogHandler handler, int maxLevel);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern IntPtr VexaExtGetVersion();

        // --- Extension (VexaExt): the sample ring, pulled instead of one
        // handler call per sample instant.

        // The code the library reports the ring's first overflow of an
        // acquisition with.
        public const int SampleRingOverflowCode = 100;

        // capacityInstants <= 0: 10 s at the base frequency, sized at each start.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void VexaExtEnableSampleRing(int capacityInstants);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void VexaExtDisableSampleRing();

        // Copies the oldest instants: ticks[i], samples[i * channels + c].
        // Returns how many, or -1 for a null buffer or a negative size. The
        // arrays are blittable, so the runtime pins them and the library
        // writes into them directly; [Out] would make Mono copy both arrays
        // whole on every call (half a millisecond for 1.4 MB).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtReadSamples(int[] ticks, int maxInstants, int[] samples, int maxSamples);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtGetSampleRingChannels();

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern long VexaExtGetSampleRingOverflow();

        // --- Extension (VexaExt): reading with its layout, cancelling.

        // Negative results of the calls below; the cause is also the calling
        // thread's last error detail.
        public const int ErrArgument = -2, ErrBufferTooSmall = -3, ErrSession = -4, ErrState = -5;

        // Session 0: the current device's ring. Copies the oldest waiting
        // instants of one acquisition: 64-bit ticks, times (may be null) and
        // samples packed `channels` per instant; writes the channel count and
        // the acquisition number (+1 at every start) they were packed with.
        // Returns instants copied, 0 when none waits, or an Err* code. The
        // arrays are pinned, not copied (see VexaExtReadSamples).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtReadBlock(int session, long[] ticks, double[] times, int maxInstants,
                                                  int[] samples, int maxSamples, out int channels,
                                                  out int acquisition);

        // Per channel of the running (or last started) acquisition, in the
        // order of an instant's samples; returns the channel count (0 before
        // any start) or an Err* code.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtGetAcquisitionLayout(int session, [In, Out] VexaChannelLayout[] layout,
                                                             int maxChannels, out int acquisition);

        // Ends a scan or a connect running on another thread early; the
        // cancelled call reports nothing. Any thread, any time.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern void VexaExtCancel();

        // --- Extension (VexaExt): recording the running acquisition to a
        // BDF+ or CSV file. Each returns 0, or -1 with the cause as the
        // calling thread's last error detail.

        // path: NUL-terminated UTF-8.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStartRecording(byte[] path);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStopRecording();

        // text: UTF-8, NUL-terminated.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtAddMarker(byte[] text);

        // A marker at the instant nearest hostTime (seconds of
        // VexaExtGetHostTime); fails as VexaExtAddMarker and for a hostTime
        // that is not finite.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtAddMarkerAt(byte[] text, double hostTime);

        // --- Extension (VexaExt): the wire trace of the current device's
        // link. Each returns 0 or an Err* code (-1 for a file not written in
        // full), with the cause as the calling thread's last error detail.

        // path: NUL-terminated UTF-8.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStartTrace(byte[] path);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStopTrace();

        // --- Extension (VexaExt): the host clock every instant and marker is
        // timed on, in seconds from an unspecified origin. Any thread.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern double VexaExtGetHostTime();

        // The time of the instant the raw-data handler is being handed (from
        // it; elsewhere the last delivered one's); NaN before any.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern double VexaExtGetInstantTime();

        // The link's constant delay in seconds; 0, or ErrArgument for a
        // value not finite or negative.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtSetLinkDelay(double seconds);

        // The code the library reports a recording that could not be written
        // with, once, on the loop's thread.
        public const int RecordingFailedCode = 101;

        // The texts: NUL-terminated bytes (the library refuses all but
        // printable ASCII), or null for none.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtDescribeRecordingChannel(int position, byte[] label, byte[] unit,
                                                                 double physicalMin, double physicalMax);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtDescribeRecording(byte[] subject, byte[] note);

        // --- Extension (VexaExt): sessions, several devices at once, each
        // with its own loop thread, ring, recording, time fit and events.
        // Each returns 0 (or a count, a handle, a percentage) or an Err* code
        // with the cause as the calling thread's last error detail.

        public const int ErrDevice = -6, ErrLink = -7, ErrInUse = -8, ErrOwnThread = -9;

        // path: NUL-terminated UTF-8. A handle > 0, or an Err* code.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtOpen(byte[] path);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtClose(int session);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStartByMask(int session, int baseFreq, int channelMask, int nBits);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStartBySources(int session, int baseFreq, [In] VexaSource[] sources,
                                                       int nSources);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStop(int session);

        // The session's loop on a thread of the library; returns at once.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtRun(int session);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtHalt(int session);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtSetSessionParameter(int session, int port, int index, [In] int[] data,
                                                            int dataType);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtGetSessionBattery(int session);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtGetSessionProductId(int session, out int productId);

        // type: static library text (read it with VexaText.FromUtf8).
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtGetSessionDeviceType(int session, out IntPtr type);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtReadEvents(int session, [Out] VexaNativeEvent[] events, int maxEvents);

        // Called on the session's own thread instead of queueing; null
        // queues again. VexaSession reads the queue instead: a handler into
        // managed code must be emptied before its domain unloads.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtSetEventHandler(int session, SessionEventHandler handler);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStartSessionRecording(int session, byte[] path);

        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtStopSessionRecording(int session);

        // session 0: every recording, the current device's included.
        [DllImport(Library, CallingConvention = CallingConvention.Cdecl)]
        public static extern int VexaExtAddSessionMarker(int session, byte[] text, double hostTime);
    }

    // The library's VexaExtEvent, field for field.
    [StructLayout(LayoutKind.Sequential)]
    public struct VexaNativeEvent
    {
        public int Session;
        public int Kind;
        public int Code;
        public int Value;
        public int ClockSource;
        public uint ClockValue;
        public long Tick;
        public double Time;
        public long Count;
        [MarshalAs(UnmanagedType.ByValArray, SizeConst = 256)] public byte[] Text;
    }
}
