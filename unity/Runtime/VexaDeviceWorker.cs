using System;
using System.Collections.Generic;
using System.Threading;

namespace Vexa
{
    public enum VexaWorkerState
    {
        Idle,
        Scanning,
        Connecting,
        Acquiring,
        WaitingToReconnect,
    }

    // Finds, connects and acquires one device as a VexaSession, on a thread
    // of its own, so that the caller (Unity's main thread) never waits for a
    // scan (about 6 s over BLE) or a connect (about 1 s). The session's loop
    // runs on the library's thread; the worker's thread polls the session's
    // events and queues them as VexaSessionEvents for the caller to drain.
    // With AutoReconnect, a lost link is followed by new attempts after
    // growing waits (VexaReconnectBackoff). Each worker is a device of its
    // own: several run at once, each on a link of its own. Scans run one at
    // a time; a "scan" takes the first device found that no other session
    // of this process holds.
    //
    // Samples stay in the session's ring, read without allocation through
    // ReadSamples.
    public sealed class VexaDeviceWorker
    {
        // Port value that scans and takes the first device found.
        public const string ScanPort = "scan";
        // The built-in simulated device: every worker on it has a device of
        // its own.
        public const string SimulatorPort = "SIM";
        // Disconnected reasons of the worker's own: the caller stopped the
        // session (or halted, stopped or closed its Session); the loop
        // failed (a Failure event carries the cause).
        public const int ReasonEnded = -1;
        public const int ReasonFailure = -2;
        // Failure code of failures that are not the library's.
        public const int WorkerFailureCode = 0;
        // Undrained events beyond this many are dropped and counted.
        public const int MaxPendingEvents = 4096;

        private const int PollMs = 50;
        private const int EventBatch = 64;
        // The session's end has no known cause yet.
        private const int ReasonUnknown = int.MinValue;
        // Ports one channel text can name: a start takes a 32-bit mask.
        private const int MaxPorts = 32;

        // The workers running now, for the domain's unload.
        private static readonly List<VexaDeviceWorker> Running = new List<VexaDeviceWorker>();
        // The library's scan uses the interface's one set of handlers.
        private static readonly object ScanGate = new object();

        private readonly object gate = new object();
        private readonly List<VexaSessionEvent> pending = new List<VexaSessionEvent>();
        private readonly VexaDeviceEvent[] sessionEvents = new VexaDeviceEvent[EventBatch];
        private readonly ManualResetEvent stopSignal = new ManualResetEvent(false);
        private readonly VexaReconnectBackoff backoff;

        private Settings settings = new Settings
        {
            Port = ScanPort, ScanDomain = "", FallbackToSimulator = true, BaseFrequency = 1000, Channels = "11",
            Bits = 16, UseSampleRing = true,
        };
        private Thread thread;
        private volatile bool stopRequested;
        private volatile bool shutdownRequested;
        private volatile VexaWorkerState state;
        private volatile VexaSession session;
        private volatile int sessionChannels;
        // The reader's 64-bit ticks for the int[] overload, reused.
        private long[] wideTicks = new long[0];
        // Instants the ring dropped: in the sessions that ended, and the
        // running acquisition's count as the library last told it.
        private long lostEarlier;
        private long lostLive;
        private bool overflowTold;
        private long droppedEvents;
        private int sessionReason;
        // The session was ended by its holder (Halt, Stop or Close on
        // Session): the worker ends too, without reconnecting.
        private bool endedByHolder;

        private struct Settings
        {
            public string Port, ScanDomain, Channels;
            public bool FallbackToSimulator, AutoReconnect, UseSampleRing;
            public int BaseFrequency, Bits, SampleRingCapacity;
        }

        public VexaDeviceWorker(VexaReconnectBackoff backoff = null)
        {
            this.backoff = backoff ?? new VexaReconnectBackoff();
        }

        // The waits between attempts, read at each attempt: a change of its
        // delays applies from the next wait.
        public VexaReconnectBackoff Backoff
        {
            get { return backoff; }
        }

        // A connection path, or "scan" (any case) for the first free device
        // that a scan of ScanDomain finds. Read before each attempt, so a
        // change takes effect at the next (re)connection.
        public string Port { get { lock (gate) return settings.Port; } set { lock (gate) settings.Port = value; } }

        // "BTH", "BLE", "USB" or "" for every domain.
        public string ScanDomain
        {
            get { lock (gate) return settings.ScanDomain; }
            set { lock (gate) settings.ScanDomain = value; }
        }

        // When a scan finds no free device (or fails), connect to "SIM"
        // instead.
        public bool FallbackToSimulator
        {
            get { lock (gate) return settings.FallbackToSimulator; }
            set { lock (gate) settings.FallbackToSimulator = value; }
        }

        public int BaseFrequency
        {
            get { lock (gate) return settings.BaseFrequency; }
            set { lock (gate) settings.BaseFrequency = value; }
        }

        // One character per port from port 1 (32 ports at most); '1'
        // acquires the port's first channel.
        public string Channels
        {
            get { lock (gate) return settings.Channels; }
            set { lock (gate) settings.Channels = value; }
        }

        public int Bits { get { lock (gate) return settings.Bits; } set { lock (gate) settings.Bits = value; } }

        // Off by default: a lost link, or a failed attempt, ends the worker.
        public bool AutoReconnect
        {
            get { lock (gate) return settings.AutoReconnect; }
            set { lock (gate) settings.AutoReconnect = value; }
        }

        // A session keeps its instants in its ring, always: false is refused
        // by Start. Frames one by one come only from the interface's current
        // device (VexaDevice.StartLoopThread and DrainFrames).
        [Obsolete("A session always reads its ring; frames one by one come from VexaDevice only.")]
        public bool UseSampleRing
        {
            get { lock (gate) return settings.UseSampleRing; }
            set { lock (gate) settings.UseSampleRing = value; }
        }

        // Ignored: a session's ring holds 10 s at the base frequency.
        [Obsolete("A session's ring always holds 10 s at the base frequency.")]
        public int SampleRingCapacity
        {
            get { lock (gate) return settings.SampleRingCapacity; }
            set { lock (gate) settings.SampleRingCapacity = value; }
        }

        public VexaWorkerState State
        {
            get { return state; }
        }

        // The session acquiring now, for what the worker does not do itself
        // (its recording, markers, parameters); null between sessions. It
        // belongs to the worker: Halt, Stop or Close on it end the worker.
        public VexaSession Session
        {
            get { return session; }
        }

        // True from Start until the worker's thread has ended.
        public bool IsRunning
        {
            get
            {
                Thread t = thread;
                return t != null && t.IsAlive;
            }
        }

        public long DroppedEvents
        {
            get { lock (pending) return droppedEvents; }
        }

        // Checks the settings and starts the worker's thread. Throws
        // ArgumentException for unusable settings and InvalidOperationException
        // while this worker runs.
        public void Start()
        {
            Validate(Snapshot());
            lock (Running)
            {
                if (IsRunning || Running.Contains(this))
                {
                    throw new InvalidOperationException("This Vexa device worker runs already.");
                }
                Running.Add(this);
            }
            try
            {
                stopRequested = false;
                shutdownRequested = false;
                endedByHolder = false;
                stopSignal.Reset();
                backoff.Reset();
                lock (pending)
                {
                    droppedEvents = 0;
                    lostEarlier = lostLive = 0;
                }
                state = VexaWorkerState.Connecting;
                thread = new Thread(Run) { IsBackground = true, Name = "Vexa device worker" };
                thread.Start();
            }
            catch
            {
                state = VexaWorkerState.Idle;
                lock (Running) Running.Remove(this);
                throw;
            }
        }

        // Asks the worker to end its session and returns at once: a scan in
        // progress is cancelled (it reports nothing), a connect is left to
        // finish, and the worker's thread then closes the session (halts,
        // stops, disconnects); with shutdown, it also runs
        // VexaDevice.Shutdown (the current device ended, the library's
        // handlers detached), on its own thread after its last call, never
        // beside another worker's scan. IsRunning turns false once all of
        // that is done.
        public void RequestStop(bool shutdown = false)
        {
            if (shutdown) shutdownRequested = true;
            stopRequested = true;
            stopSignal.Set();
            // Only a scan: a cancel ends every cancellable call in the
            // process, and scans run one at a time, so the one running is
            // this worker's.
            if (IsRunning && state == VexaWorkerState.Scanning) VexaDevice.Cancel();
        }

        // VexaDevice.Shutdown on a thread of the pool, never beside a
        // worker's scan or another shutdown, for a caller that must not wait.
        public static void ShutdownInBackground()
        {
            ThreadPool.QueueUserWorkItem(unused =>
            {
                try
                {
                    ShutdownCurrentDevice();
                }
                catch (Exception)
                {
                    // Quitting: there is nobody left to tell.
                }
            });
        }

        private static void ShutdownCurrentDevice()
        {
            lock (ScanGate) VexaDevice.Shutdown();
        }

        // Every running worker, asked to stop.
        internal static VexaDeviceWorker[] RequestAllStop()
        {
            VexaDeviceWorker[] workers;
            lock (Running) workers = Running.ToArray();
            foreach (VexaDeviceWorker worker in workers) worker.RequestStop();
            return workers;
        }

        // RequestStop, then waits up to timeoutMs (negative: no limit) for
        // the worker's thread; true once it has ended.
        public bool Stop(int timeoutMs)
        {
            RequestStop();
            Thread t = thread;
            if (t == null || t == Thread.CurrentThread) return t == null;
            return t.Join(timeoutMs < 0 ? Timeout.Infinite : timeoutMs);
        }

        // Waits for the worker's thread to end by itself (a lost link without
        // AutoReconnect, nothing found); true once it has.
        public bool WaitUntilEnded(int timeoutMs)
        {
            Thread t = thread;
            return t == null || t.Join(timeoutMs < 0 ? Timeout.Infinite : timeoutMs);
        }

        // Moves the queued events into `into`, oldest first; returns how many.
        // Allocates nothing once `into` has room.
        public int DrainEvents(List<VexaSessionEvent> into)
        {
            if (into == null) throw new ArgumentNullException("into");
            lock (pending)
            {
                int count = pending.Count;
                into.AddRange(pending);
                pending.Clear();
                return count;
            }
        }

        // Waits until an event is queued; false when the time ran out.
        public bool WaitForEvents(int timeoutMs)
        {
            lock (pending)
            {
                int deadline = Environment.TickCount + timeoutMs;
                while (pending.Count == 0)
                {
                    int left = timeoutMs < 0 ? Timeout.Infinite : deadline - Environment.TickCount;
                    if (timeoutMs >= 0 && left <= 0) return false;
                    Monitor.Wait(pending, left);
                }
                return true;
            }
        }

        // Channels per instant of the running session's acquisition; 0
        // between sessions. A read says the channels of its own instants:
        // prefer that.
        public int SampleChannels
        {
            get { return session != null ? sessionChannels : 0; }
        }

        // Instants the rings dropped since Start, over every reconnection,
        // as the library told them (at an acquisition's first drop and each
        // time its count doubles); kept once the worker has ended, until the
        // next Start.
        public long SamplesLost
        {
            get { lock (pending) return lostEarlier + lostLive; }
        }

        // Copies the oldest unread instants of the session's ring (see
        // VexaSession.Read), with the channel count and acquisition they
        // were packed with; 0 between sessions. One reader thread.
        public int ReadSamples(long[] ticks, double[] times, int[] samples, out int channels, out int acquisition)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            if (samples == null) throw new ArgumentNullException("samples");
            channels = acquisition = 0;
            VexaSession current = session;
            if (current == null) return 0;
            try
            {
                return current.Read(ticks, times, samples, out channels, out acquisition);
            }
            catch (ObjectDisposedException)
            {
                // Closed by the worker's thread since: nothing more to read.
                channels = acquisition = 0;
                return 0;
            }
        }

        // The same with 32-bit ticks, split at SampleChannels, which a
        // reconnection may change between two calls: prefer the overload
        // above.
        public int ReadSamples(int[] ticks, int[] samples)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            if (wideTicks.Length < ticks.Length) wideTicks = new long[ticks.Length];
            int channels, acquisition;
            int n = ReadSamples(wideTicks, null, samples, out channels, out acquisition);
            for (int i = 0; i < n; i++) ticks[i] = unchecked((int)wideTicks[i]);
            return n;
        }

        private Settings Snapshot()
        {
            lock (gate) return settings;
        }

        private static void Validate(Settings s)
        {
            if (string.IsNullOrEmpty(s.Port) || s.Port.Trim().Length == 0)
            {
                throw new ArgumentException("The port is empty: give a path, \"scan\" or \"SIM\".", "Port");
            }
            string domain = (s.ScanDomain ?? "").ToUpperInvariant();
            if (domain != "" && domain != "BTH" && domain != "BLE" && domain != "USB")
            {
                throw new ArgumentException("The scan domain \"" + s.ScanDomain + "\" is not \"BTH\", \"BLE\", " +
                                            "\"USB\" or \"\".", "ScanDomain");
            }
            if (s.Channels == null || s.Channels.IndexOf('1') < 0 || s.Channels.LastIndexOf('1') >= MaxPorts)
            {
                throw new ArgumentException("The channels select no port: put '1' at each port to acquire, among " +
                                            "the first " + MaxPorts + ".", "Channels");
            }
            if (s.BaseFrequency <= 0) throw new ArgumentException("The base frequency must be positive.", "BaseFrequency");
            if (s.Bits <= 0) throw new ArgumentException("The resolution must be positive.", "Bits");
            if (!s.UseSampleRing)
            {
                throw new ArgumentException("A session keeps its instants in its ring: frames one by one come only " +
                                            "from the current device (VexaDevice).", "UseSampleRing");
            }
        }

        // Bit b for a '1' at position b: port b + 1.
        private static int ChannelMask(string channels)
        {
            int mask = 0;
            for (int i = 0; i < channels.Length && i < MaxPorts; i++)
            {
                if (channels[i] == '1') mask |= 1 << i;
            }
            return mask;
        }

        private void Run()
        {
            try
            {
                while (!stopRequested)
                {
                    if (RunSession()) backoff.Reset();
                    if (stopRequested || endedByHolder || !AutoReconnect) break;
                    state = VexaWorkerState.WaitingToReconnect;
                    if (stopSignal.WaitOne(backoff.NextDelayMs())) break;
                }
            }
            catch (Exception e)
            {
                // Nothing may escape a worker thread: it would end the process.
                PostFailure(e);
            }
            finally
            {
                try
                {
                    // Here, after the worker's last call: never beside it.
                    if (shutdownRequested) ShutdownCurrentDevice();
                }
                catch (Exception e)
                {
                    PostFailure(e);
                }
                state = VexaWorkerState.Idle;
                lock (Running) Running.Remove(this);
            }
        }

        // One attempt: resolve the port, open, start, watch the session until
        // it ends, close it. True if the device was connected and acquiring.
        private bool RunSession()
        {
            Settings s = Snapshot();
            VexaSession opened = null;
            try
            {
                Validate(s);
                opened = Open(s);
                if (opened == null || stopRequested) return false;
                return Acquire(s, opened);
            }
            catch (Exception e)
            {
                // A stop cancels a scan: what it ends is no failure.
                if (!stopRequested) PostFailure(e);
                return false;
            }
            finally
            {
                if (opened != null) Close(opened);
            }
        }

        // The session of the port, or of the first free device a scan found;
        // null when a stop came first.
        private VexaSession Open(Settings s)
        {
            string port = s.Port.Trim();
            if (!string.Equals(port, ScanPort, StringComparison.OrdinalIgnoreCase))
            {
                state = VexaWorkerState.Connecting;
                return VexaSession.Open(port);
            }
            List<string> found = Scan(s);
            if (stopRequested) return null;
            state = VexaWorkerState.Connecting;
            foreach (string path in found)
            {
                try
                {
                    return VexaSession.Open(path);
                }
                catch (VexaException e)
                {
                    // Another session (another component) holds it: the next.
                    if (e.Code != VexaNative.ErrInUse) throw;
                }
                if (stopRequested) return null;
            }
            if (s.FallbackToSimulator) return VexaSession.Open(SimulatorPort);
            throw new InvalidOperationException("No free device was found" +
                                                (s.ScanDomain.Length == 0 ? "." : " in " + s.ScanDomain + "."));
        }

        private List<string> Scan(Settings s)
        {
            lock (ScanGate)
            {
                if (stopRequested) return new List<string>();
                state = VexaWorkerState.Scanning;
                try
                {
                    return s.ScanDomain.Length == 0 ? VexaDevice.ScanAll() : VexaDevice.Scan(s.ScanDomain);
                }
                catch (VexaException e)
                {
                    // A missing adapter is one way of finding nothing.
                    if (!s.FallbackToSimulator) throw;
                    PostFailure(e);
                    return new List<string>();
                }
            }
        }

        private bool Acquire(Settings s, VexaSession opened)
        {
            sessionReason = ReasonUnknown;
            lock (pending) overflowTold = false;
            // Before the loop runs: the battery is a question to the device.
            string type = opened.DeviceType;
            int battery = ReadBattery(opened);
            opened.Start(s.BaseFrequency, ChannelMask(s.Channels), s.Bits);
            int acquisition;
            sessionChannels = opened.GetAcquisitionLayout(out acquisition).Length;
            opened.Run();
            session = opened;
            state = VexaWorkerState.Acquiring;
            Post(new VexaSessionEvent
            {
                Kind = VexaSessionEventKind.Connected, Path = opened.Path, DeviceType = type, Battery = battery,
            });
            try
            {
                Watch(opened);
            }
            catch (Exception e)
            {
                if (sessionReason == ReasonUnknown) sessionReason = ReasonFailure;
                PostFailure(e);
            }
            Post(new VexaSessionEvent
            {
                Kind = VexaSessionEventKind.Disconnected,
                Reason = sessionReason == ReasonUnknown ? ReasonFailure : sessionReason,
            });
            return true;
        }

        // Forwards the session's events until its loop ends or a stop is
        // asked; the events the loop queued before it ended come too.
        private void Watch(VexaSession acquiring)
        {
            try
            {
                while (!Forward(acquiring))
                {
                    if (stopRequested)
                    {
                        if (sessionReason == ReasonUnknown) sessionReason = ReasonEnded;
                        acquiring.Halt();
                        Forward(acquiring);
                        return;
                    }
                    stopSignal.WaitOne(PollMs);
                }
            }
            catch (ObjectDisposedException)
            {
                // Its holder closed it.
                if (sessionReason == ReasonUnknown) sessionReason = ReasonEnded;
                endedByHolder = !stopRequested;
            }
        }

        // True once the loop's end came.
        private bool Forward(VexaSession acquiring)
        {
            bool ended = false;
            int n;
            while ((n = acquiring.ReadEvents(sessionEvents)) > 0)
            {
                for (int i = 0; i < n; i++) ended |= Forward(sessionEvents[i]);
                if (n < sessionEvents.Length) break;
            }
            return ended;
        }

        private bool Forward(VexaDeviceEvent e)
        {
            switch (e.Kind)
            {
                case VexaDeviceEventKind.Disconnect:
                    // The first cause that ended the loop is the reason.
                    if (sessionReason == ReasonUnknown) sessionReason = e.Code;
                    break;
                case VexaDeviceEventKind.DigitalInput:
                    Post(new VexaSessionEvent
                    {
                        Kind = VexaSessionEventKind.DigitalInput, ClockSource = e.ClockSource,
                        ClockValue = unchecked((int)e.ClockValue), Input = e.Code, State = e.Value != 0,
                        Tick = e.Tick, Time = e.Time,
                    });
                    break;
                case VexaDeviceEventKind.Failure:
                    if (e.Code == VexaNative.RecordingFailedCode)
                    {
                        Post(new VexaSessionEvent
                        {
                            Kind = VexaSessionEventKind.RecordingFailed, Code = e.Code, Message = e.Text,
                        });
                        break;
                    }
                    if (sessionReason == ReasonUnknown) sessionReason = ReasonFailure;
                    Post(new VexaSessionEvent { Kind = VexaSessionEventKind.Failure, Code = e.Code, Message = e.Text });
                    break;
                case VexaDeviceEventKind.Overflow:
                    OnOverflow(e);
                    break;
                case VexaDeviceEventKind.LoopEnded:
                    if (sessionReason == ReasonUnknown)
                    {
                        sessionReason = e.Code == VexaSession.LoopLinkLost ? ReasonFailure : ReasonEnded;
                    }
                    // Halted or stopped by someone else than this worker: by
                    // the Session's holder.
                    if (e.Code != VexaSession.LoopLinkLost && !stopRequested) endedByHolder = true;
                    return true;
            }
            return false;
        }

        private void OnOverflow(VexaDeviceEvent e)
        {
            bool first;
            lock (pending)
            {
                if (e.Code == VexaSession.OverflowOfEvents)
                {
                    droppedEvents += e.Count;
                    return;
                }
                lostLive = Math.Max(lostLive, e.Count);
                first = !overflowTold;
                overflowTold = true;
            }
            if (first)
            {
                Post(new VexaSessionEvent
                {
                    Kind = VexaSessionEventKind.SampleRingOverflow, Code = VexaNative.SampleRingOverflowCode,
                    Message = e.Text,
                });
            }
        }

        // Closes the session on this thread; its ring's count of drops is
        // kept for SamplesLost.
        private void Close(VexaSession closing)
        {
            session = null;
            sessionChannels = 0;
            lock (pending)
            {
                lostEarlier += lostLive;
                lostLive = 0;
            }
            try
            {
                closing.Close();
            }
            catch (Exception e)
            {
                PostFailure(e);
            }
        }

        private static int ReadBattery(VexaSession opened)
        {
            try
            {
                return opened.Battery;
            }
            catch (Exception)
            {
                return -1;
            }
        }

        private void PostFailure(Exception e)
        {
            VexaException vexa = e as VexaException;
            Post(new VexaSessionEvent
            {
                Kind = VexaSessionEventKind.Failure,
                Code = vexa != null ? vexa.Code : WorkerFailureCode,
                Message = e.Message,
                Detail = vexa != null ? vexa.Detail : e.GetType().Name,
            });
        }

        private void Post(VexaSessionEvent e)
        {
            lock (pending)
            {
                if (pending.Count >= MaxPendingEvents)
                {
                    droppedEvents++;
                    return;
                }
                pending.Add(e);
                Monitor.PulseAll(pending);
            }
        }
    }
}
