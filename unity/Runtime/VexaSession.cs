using System;
using System.Collections.Generic;
using System.Text;
using System.Threading.Tasks;

namespace Vexa
{
    public enum VexaDeviceEventKind
    {
        // The device reported a disconnect: Code is its reason.
        Disconnect = 1,
        // A digital input changed: Code is the input, Value the new state (0
        // or 1), ClockSource and ClockValue the device's stamp; Tick and Time
        // name its instant when the stamp is the acquisition's tick.
        DigitalInput = 2,
        // Something failed on the session's thread: Code and Text.
        Failure = 3,
        // Something was dropped: Code VexaSession.OverflowOfRing or
        // OverflowOfEvents, Count how many.
        Overflow = 4,
        // The session's loop ended: Code VexaSession.LoopHalted (a halt or
        // close), LoopStopped or LoopLinkLost.
        LoopEnded = 5,
    }

    // What happened to a session's device, in the order it happened.
    public struct VexaDeviceEvent
    {
        // The session's handle.
        public int Session;
        public VexaDeviceEventKind Kind;
        public int Code;
        public int Value;
        public int ClockSource;
        public uint ClockValue;
        // The instant's 64-bit tick, or -1 when the event has none.
        public long Tick;
        // Seconds of VexaClock.Now: the instant's time when Tick >= 0, else
        // when the library took the event.
        public double Time;
        public long Count;
        public string Text;
    }

    // One device of several acquired at once. Each session has its own
    // connection, a loop on a thread of the library (Run), a sample ring that
    // is always on, a recording, a time fit and an event queue; the methods
    // are safe from any thread, and a closed session throws
    // ObjectDisposedException. Unlike VexaDevice, which drives the library's
    // one current device, any number of sessions may be open, each on a
    // link of its own (a link already open in this process is refused).
    //
    // Open, Start, Stop and Close wait for the device; their Async forms run
    // them on a worker thread so that the main thread never waits.
    public sealed class VexaSession : IDisposable
    {
        // LoopEnded codes: why the loop ended.
        public const int LoopHalted = 0, LoopStopped = 1, LoopLinkLost = 2;
        // Overflow codes: the ring dropped instants (Count: so far in this
        // acquisition, told at the first drop and each time it doubles), or
        // the event queue dropped events (Count: since the last read).
        public const int OverflowOfRing = 0, OverflowOfEvents = 1;

        private static readonly object OpenGate = new object();
        private static readonly List<VexaSession> OpenSessions = new List<VexaSession>();

        private readonly object gate = new object();
        private int handle;
        private VexaNativeEvent[] nativeEvents;

        private VexaSession(int handle, string path)
        {
            this.handle = handle;
            Path = path;
        }

        // The library's handle (> 0), never reused in the process; 0 once
        // closed.
        public int Handle
        {
            get { lock (gate) return handle; }
        }

        public string Path { get; private set; }

        // Connects to the device at path (any path VexaDevice.Connect takes,
        // "SIM" forms included: each is a device of its own). Throws
        // VexaException with the library's code (VexaNative.ErrLink,
        // ErrInUse, ...) and the cause.
        public static VexaSession Open(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            VexaCallbacks.BeforeSessions();
            byte[] utf8 = VexaText.ToUtf8(path);
            int handle = 0;
            VexaSession session = null;
            bool unloading = false;
            try
            {
            }
            finally
            {
                // A finally block is not interrupted by the abort of a domain
                // unload: the handle is either kept where the unload's
                // clean-up finds it, or closed here, never left open with no
                // owner (its link would stay taken for the process's life).
                handle = VexaNative.VexaExtOpen(utf8);
                if (handle > 0)
                {
                    lock (OpenGate)
                    {
                        unloading = VexaCallbacks.IsClosed;
                        if (!unloading)
                        {
                            session = new VexaSession(handle, path);
                            OpenSessions.Add(session);
                        }
                    }
                    if (unloading) VexaNative.VexaExtClose(handle);
                }
            }
            if (unloading) throw new InvalidOperationException("The application domain is unloading.");
            if (handle <= 0) throw Failure(handle == 0 ? VexaNative.ErrLink : handle, "path");
            return session;
        }

        public static Task<VexaSession> OpenAsync(string path)
        {
            return Task.Run(() => Open(path));
        }

        // Starts the ports whose bits are set in channelMask (bit 0: port 1)
        // at baseFreq Hz with nBits-bit samples; refused as
        // StartAcquisitionByNbr refuses.
        public void Start(int baseFreq, int channelMask, int nBits)
        {
            Check(VexaNative.VexaExtStartByMask(Live(), baseFreq, channelMask, nBits), "channelMask");
        }

        public void Start(int baseFreq, VexaSource[] sources)
        {
            if (sources == null) throw new ArgumentNullException("sources");
            Check(VexaNative.VexaExtStartBySources(Live(), baseFreq, sources, sources.Length), "sources");
        }

        public Task StartAsync(int baseFreq, int channelMask, int nBits)
        {
            return Task.Run(() => Start(baseFreq, channelMask, nBits));
        }

        public Task StartAsync(int baseFreq, VexaSource[] sources)
        {
            return Task.Run(() => Start(baseFreq, sources));
        }

        public void Stop()
        {
            Check(VexaNative.VexaExtStop(Live()), null);
        }

        public Task StopAsync()
        {
            return Task.Run(() => Stop());
        }

        // Runs the session's loop on the library's thread until Halt, Stop, a
        // lost link or Close; returns at once.
        public void Run()
        {
            Check(VexaNative.VexaExtRun(Live()), null);
        }

        // Ends the loop and waits for it.
        public void Halt()
        {
            Check(VexaNative.VexaExtHalt(Live()), null);
        }

        // Percent, as the device reports it. Talks to the device: refused
        // (InvalidOperationException) while the loop runs.
        public int Battery
        {
            get { return Check(VexaNative.VexaExtGetSessionBattery(Live()), null); }
        }

        public int ProductId
        {
            get
            {
                int id;
                Check(VexaNative.VexaExtGetSessionProductId(Live(), out id), null);
                return id;
            }
        }

        public string DeviceType
        {
            get
            {
                IntPtr type;
                Check(VexaNative.VexaExtGetSessionDeviceType(Live(), out type), null);
                return VexaText.FromUtf8(type);
            }
        }

        // As VexaDevice.SetParameter, on this session's device; refused
        // while the loop runs.
        public void SetParameter(int port, int index, int[] data, int dataType)
        {
            if (data == null) throw new ArgumentNullException("data");
            // dataType 2 reads two entries: never let the library read past
            // the array.
            int needed = dataType == 2 ? 2 : 1;
            if (data.Length < needed)
            {
                throw new ArgumentException("dataType " + dataType + " needs " + needed + " value(s).", "data");
            }
            Check(VexaNative.VexaExtSetSessionParameter(Live(), port, index, data, dataType), "data");
        }

        // As VexaDevice.ReadSamples, from this session's ring: the oldest
        // waiting instants of one acquisition, their times on VexaClock.Now
        // (times may be null) and their samples packed `channels` per
        // instant. Allocates nothing; one reader thread at a time.
        public int Read(long[] ticks, double[] times, int[] samples, out int channels, out int acquisition)
        {
            return VexaDevice.ReadBlock(Live(), ticks, times, samples, out channels, out acquisition);
        }

        public VexaChannelLayout[] GetAcquisitionLayout(out int acquisition)
        {
            return VexaDevice.ReadLayout(Live(), out acquisition);
        }

        // Copies the oldest waiting events into events; returns how many.
        public int ReadEvents(VexaDeviceEvent[] events)
        {
            if (events == null) throw new ArgumentNullException("events");
            VexaNativeEvent[] raw;
            int n;
            lock (gate)
            {
                if (nativeEvents == null || nativeEvents.Length < events.Length)
                {
                    nativeEvents = new VexaNativeEvent[events.Length];
                }
                raw = nativeEvents;
                n = Check(VexaNative.VexaExtReadEvents(LiveLocked(), raw, events.Length), "events");
            }
            for (int i = 0; i < n; i++)
            {
                events[i] = new VexaDeviceEvent
                {
                    Session = raw[i].Session, Kind = (VexaDeviceEventKind)raw[i].Kind, Code = raw[i].Code, Value = raw[i].Value,
                    ClockSource = raw[i].ClockSource, ClockValue = raw[i].ClockValue, Tick = raw[i].Tick,
                    Time = raw[i].Time, Count = raw[i].Count, Text = TextOf(raw[i].Text),
                };
            }
            return n;
        }

        // Records this session's running acquisition to a .bdf or .csv file.
        public void StartRecording(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            Check(VexaNative.VexaExtStartSessionRecording(Live(), VexaText.ToUtf8(path)), "path");
        }

        public void StopRecording()
        {
            Check(VexaNative.VexaExtStopSessionRecording(Live()), null);
        }

        // A marker in this session's recording at the instant nearest
        // hostTime (seconds of VexaClock.Now; now when left out).
        public void AddMarker(string text, double hostTime = double.NaN)
        {
            AddMarker(Live(), text, hostTime);
        }

        // The same marker in every recording of the process (each session's
        // and the current device's), each at its own nearest instant.
        public static void AddMarkerToAll(string text, double hostTime = double.NaN)
        {
            AddMarker(0, text, hostTime);
        }

        private static void AddMarker(int session, string text, double hostTime)
        {
            if (text == null) throw new ArgumentNullException("text");
            if (double.IsNaN(hostTime)) hostTime = VexaClock.Now;
            Check(VexaNative.VexaExtAddSessionMarker(session, VexaText.ToUtf8(text), hostTime), "text");
        }

        // Halts the loop, ends the recording, stops and disconnects. Closing
        // twice does nothing. An open session is kept alive (and closed at
        // the domain's unload) until it is closed: dropping it is no close.
        public void Close()
        {
            int closing;
            lock (gate)
            {
                closing = handle;
                handle = 0;
            }
            if (closing == 0) return;
            lock (OpenGate) OpenSessions.Remove(this);
            int result = VexaNative.VexaExtClose(closing);
            // Gone already (closed behind this object's back) is closed.
            if (result != VexaNative.ErrSession) Check(result, null);
        }

        public Task CloseAsync()
        {
            return Task.Run(() => Close());
        }

        public void Dispose()
        {
            Close();
        }

        // The domain is unloading: every session of this domain is closed,
        // so that the next domain finds its links free.
        internal static void CloseAllForUnload()
        {
            VexaSession[] open;
            lock (OpenGate) open = OpenSessions.ToArray();
            foreach (VexaSession session in open)
            {
                try
                {
                    session.Close();
                }
                catch (Exception)
                {
                    // The device may already be gone: the handle is closed.
                }
            }
        }

        private int Live()
        {
            lock (gate) return LiveLocked();
        }

        private int LiveLocked()
        {
            if (handle == 0) throw new ObjectDisposedException("VexaSession", "The session is closed.");
            return handle;
        }

        private static string TextOf(byte[] text)
        {
            if (text == null) return "";
            int length = Array.IndexOf(text, (byte)0);
            return Encoding.UTF8.GetString(text, 0, length < 0 ? text.Length : length);
        }

        private static int Check(int result, string argument)
        {
            if (result >= 0) return result;
            throw Failure(result, argument);
        }

        // The exception for a negative result; the library keeps the cause
        // as the calling thread's last error detail.
        internal static Exception Failure(int code, string argument)
        {
            string detail = VexaText.FromUtf8(VexaNative.VexaExtGetLastErrorDetail());
            switch (code)
            {
                case VexaNative.ErrArgument:
                case VexaNative.ErrBufferTooSmall:
                    return new ArgumentException(detail, argument);
                case VexaNative.ErrSession:
                    return new ObjectDisposedException("VexaSession", detail);
                case VexaNative.ErrState:
                    return new InvalidOperationException(detail);
                case VexaNative.ErrDevice:
                    return new VexaException(code, "The device refused the call.", detail);
                case VexaNative.ErrInUse:
                    return new VexaException(code, "The link is already in use.", detail);
                case VexaNative.ErrOwnThread:
                    return new VexaException(code, "The call would wait for the session's own thread.", detail);
                default:
                    return new VexaException(code, "The link failed.", detail);
            }
        }
    }
}
