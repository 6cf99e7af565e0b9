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

    // Finds, connects and acquires on a thread of its own, so that the caller
    // (Unity's main thread) never waits for a scan (about 6 s over BLE) or a
    // connect (about 1 s). What happens is queued as VexaSessionEvents for the
    // caller to drain. With AutoReconnect, a lost link is followed by new
    // attempts after growing waits (VexaReconnectBackoff). The library holds
    // one device, so only one worker runs at a time.
    //
    // Samples: with UseSampleRing (the default) the loop fills the binding's
    // sample ring, read without allocation through ReadSamples; without it,
    // frames stay queued for VexaDevice.DrainFrames.
    public sealed class VexaDeviceWorker
    {
        // Port value that scans and takes the first device found.
        public const string ScanPort = "scan";
        // The built-in simulated device.
        public const string SimulatorPort = "SIM";
        // Disconnected reasons of the worker's own: the caller stopped the
        // session; the loop failed (a Failure event carries the cause).
        public const int ReasonEnded = -1;
        public const int ReasonFailure = -2;
        // Failure code of failures that are not the library's.
        public const int WorkerFailureCode = 0;
        // Undrained events beyond this many are dropped and counted.
        public const int MaxPendingEvents = 4096;

        private const int PollMs = 50;
        // The session's end has no known cause yet.
        private const int ReasonUnknown = int.MinValue;

        private static readonly object ActiveGate = new object();
        private static VexaDeviceWorker active;

        private readonly object gate = new object();
        private readonly object ringGate = new object();
        private readonly List<VexaSessionEvent> pending = new List<VexaSessionEvent>();
        private readonly List<VexaEvent> bindingEvents = new List<VexaEvent>();
        private readonly List<VexaFrame> discardedFrames = new List<VexaFrame>();
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
        private bool ringActive;
        // Instants the ring dropped in acquisitions that ended (the library
        // counts the running one only); the live count is added while
        // liveOverflow holds.
        private long lostEarlier;
        private bool liveOverflow;
        private long droppedEvents;
        private int sessionReason;

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

        // A connection path, or "scan" (any case) for the first device that a
        // scan of ScanDomain finds. Read before each attempt, so a change
        // takes effect at the next (re)connection.
        public string Port { get { lock (gate) return settings.Port; } set { lock (gate) settings.Port = value; } }

        // "BTH", "BLE", "USB" or "" for every domain.
        public string ScanDomain
        {
            get { lock (gate) return settings.ScanDomain; }
            set { lock (gate) settings.ScanDomain = value; }
        }

        // When a scan finds nothing (or fails), connect to "SIM" instead.
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

        // One character per port from port 1; '1' acquires it.
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

        public bool UseSampleRing
        {
            get { lock (gate) return settings.UseSampleRing; }
            set { lock (gate) settings.UseSampleRing = value; }
        }

        // Instants the ring holds; 0 takes the binding's default.
        public int SampleRingCapacity
        {
            get { lock (gate) return settings.SampleRingCapacity; }
            set { lock (gate) settings.SampleRingCapacity = value; }
        }

        public VexaWorkerState State
        {
            get { return state; }
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
        // while this or another worker runs.
        public void Start()
        {
            Validate(Snapshot());
            lock (ActiveGate)
            {
                if (active != null)
                {
                    throw new InvalidOperationException("A Vexa device worker already runs; the library holds one " +
                                                        "device at a time.");
                }
                active = this;
            }
            try
            {
                stopRequested = false;
                shutdownRequested = false;
                stopSignal.Reset();
                backoff.Reset();
                lock (ringGate)
                {
                    lostEarlier = 0;
                    liveOverflow = false;
                }
                lock (pending) droppedEvents = 0;
                state = VexaWorkerState.Connecting;
                thread = new Thread(Run) { IsBackground = true, Name = "Vexa device worker" };
                thread.Start();
            }
            catch
            {
                state = VexaWorkerState.Idle;
                lock (ActiveGate) active = null;
                throw;
            }
        }

        // Asks the worker to end its session and returns at once: a scan or
        // connect in progress is cancelled (it reports nothing), and the
        // worker's thread then interrupts, stops and disconnects; with
        // shutdown, it also runs VexaDevice.Shutdown, on its own thread, so
        // that nothing runs beside its last call. IsRunning turns false once
        // all of that is done.
        public void RequestStop(bool shutdown = false)
        {
            if (shutdown) shutdownRequested = true;
            stopRequested = true;
            stopSignal.Set();
            if (IsRunning) VexaDevice.Cancel();
        }

        // The running worker, asked to stop; null when none runs.
        internal static VexaDeviceWorker RequestActiveStop()
        {
            VexaDeviceWorker worker;
            lock (ActiveGate) worker = active;
            if (worker != null) worker.RequestStop();
            return worker;
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

        // Channels per instant in the sample ring; 0 while it is not open.
        // A read says the channels of its own instants: prefer that.
        public int SampleChannels
        {
            get { lock (ringGate) return ringActive ? VexaDevice.SampleRingChannels : 0; }
        }

        // Instants the ring had to drop since Start, over every reconnection;
        // kept once the worker has ended, until the next Start.
        public long SamplesLost
        {
            get
            {
                lock (ringGate) return lostEarlier + (ringActive && liveOverflow ? VexaDevice.SampleRingOverflow : 0);
            }
        }

        // Copies the oldest unread instants of the ring (see
        // VexaDevice.ReadSamples), with the channel count and acquisition
        // they were packed with; 0 while the ring is not open.
        public int ReadSamples(long[] ticks, double[] times, int[] samples, out int channels, out int acquisition)
        {
            lock (ringGate)
            {
                if (ringActive) return VexaDevice.ReadSamples(ticks, times, samples, out channels, out acquisition);
            }
            if (ticks == null) throw new ArgumentNullException("ticks");
            if (samples == null) throw new ArgumentNullException("samples");
            channels = acquisition = 0;
            return 0;
        }

        // The same with 32-bit ticks, split at SampleChannels, which a
        // restart may change between two calls: prefer the overload above.
        public int ReadSamples(int[] ticks, int[] samples)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            if (samples == null) throw new ArgumentNullException("samples");
            lock (ringGate) return ringActive ? VexaDevice.ReadSamples(ticks, samples) : 0;
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
            if (s.Channels == null || s.Channels.IndexOf('1') < 0)
            {
                throw new ArgumentException("The channels select no port: put '1' at each port to acquire.",
                                            "Channels");
            }
            if (s.BaseFrequency <= 0) throw new ArgumentException("The base frequency must be positive.", "BaseFrequency");
            if (s.Bits <= 0) throw new ArgumentException("The resolution must be positive.", "Bits");
            if (s.SampleRingCapacity < 0)
            {
                throw new ArgumentException("The ring capacity must not be negative.", "SampleRingCapacity");
            }
        }

        private void Run()
        {
            try
            {
                while (!stopRequested)
                {
                    if (RunSession()) backoff.Reset();
                    if (stopRequested || !AutoReconnect) break;
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
                    CloseRing();
                    // Here, after the worker's last call: never beside it.
                    if (shutdownRequested) VexaDevice.Shutdown();
                }
                catch (Exception e)
                {
                    PostFailure(e);
                }
                state = VexaWorkerState.Idle;
                lock (ActiveGate)
                {
                    if (active == this) active = null;
                }
            }
        }

        // One attempt: resolve the port, connect, start, watch the loop until
        // it ends, clean up. True if the device was connected and acquiring.
        private bool RunSession()
        {
            Settings s = Snapshot();
            try
            {
                Validate(s);
                string path = ResolvePort(s);
                if (stopRequested) return false;
                state = VexaWorkerState.Connecting;
                VexaDevice.Connect(path);
                if (stopRequested)
                {
                    VexaDevice.Disconnect();
                    return false;
                }
                return Acquire(s, path);
            }
            catch (Exception e)
            {
                // A stop cancels a scan or connect: what it ends is no failure.
                if (!stopRequested) PostFailure(e);
                return false;
            }
        }

        private bool Acquire(Settings s, string path)
        {
            bool acquiring = false;
            sessionReason = ReasonUnknown;
            try
            {
                string type = VexaDevice.DeviceType;
                int battery = ReadBattery();
                if (s.UseSampleRing) OpenRing(s.SampleRingCapacity);
                VexaDevice.StartChannels(s.BaseFrequency, s.Channels, s.Bits);
                lock (ringGate) liveOverflow = ringActive;
                VexaDevice.StartLoopThread();
                acquiring = true;
                state = VexaWorkerState.Acquiring;
                Post(new VexaSessionEvent
                {
                    Kind = VexaSessionEventKind.Connected, Path = path, DeviceType = type, Battery = battery,
                });
                Watch(s.UseSampleRing);
                if (sessionReason == ReasonUnknown) sessionReason = ReasonFailure;
            }
            catch (Exception e)
            {
                PostFailure(e);
            }
            finally
            {
                EndSession(s.UseSampleRing);
            }
            if (acquiring)
            {
                Post(new VexaSessionEvent
                {
                    Kind = VexaSessionEventKind.Disconnected,
                    Reason = sessionReason == ReasonUnknown ? ReasonFailure : sessionReason,
                });
            }
            return acquiring;
        }

        // Forwards the loop's events until it ends by itself or a stop is asked.
        private void Watch(bool discardFrames)
        {
            while (true)
            {
                ForwardEvents(discardFrames);
                if (stopRequested)
                {
                    if (sessionReason == ReasonUnknown) sessionReason = ReasonEnded;
                    VexaDevice.Interrupt();
                    return;
                }
                // The loop's handlers queue their event before the loop
                // returns, so the last events are drained after this.
                if (!VexaDevice.IsLooping) return;
                stopSignal.WaitOne(PollMs);
            }
        }

        private void EndSession(bool discardFrames)
        {
            Action[] steps = { VexaDevice.Stop, VexaDevice.Disconnect };
            foreach (Action step in steps)
            {
                try
                {
                    step();
                }
                catch (Exception e)
                {
                    PostFailure(e);
                }
            }
            ForwardEvents(discardFrames);
        }

        private void ForwardEvents(bool discardFrames)
        {
            if (discardFrames && VexaDevice.DrainFrames(discardedFrames) > 0) discardedFrames.Clear();
            if (VexaDevice.DrainEvents(bindingEvents) == 0) return;
            foreach (VexaEvent e in bindingEvents)
            {
                switch (e.Kind)
                {
                    case VexaEventKind.Disconnect:
                        // The first cause that ended the loop is the reason.
                        if (sessionReason == ReasonUnknown) sessionReason = e.Reason;
                        break;
                    case VexaEventKind.DigitalInput:
                        Post(new VexaSessionEvent
                        {
                            Kind = VexaSessionEventKind.DigitalInput, ClockSource = e.ClockSource,
                            ClockValue = e.ClockValue, Input = e.Input, State = e.State,
                        });
                        break;
                    case VexaEventKind.SampleRingOverflow:
                        Post(new VexaSessionEvent
                        {
                            Kind = VexaSessionEventKind.SampleRingOverflow, Code = e.Code, Message = e.Message,
                        });
                        break;
                    case VexaEventKind.RecordingFailed:
                        Post(new VexaSessionEvent
                        {
                            Kind = VexaSessionEventKind.RecordingFailed, Code = e.Code, Message = e.Message,
                            Detail = e.Detail,
                        });
                        break;
                    case VexaEventKind.Failure:
                        if (sessionReason == ReasonUnknown) sessionReason = ReasonFailure;
                        Post(new VexaSessionEvent
                        {
                            Kind = VexaSessionEventKind.Failure, Code = e.Code, Message = e.Message, Detail = e.Detail,
                        });
                        break;
                }
            }
            bindingEvents.Clear();
        }

        private string ResolvePort(Settings s)
        {
            string port = s.Port.Trim();
            if (!string.Equals(port, ScanPort, StringComparison.OrdinalIgnoreCase)) return port;
            state = VexaWorkerState.Scanning;
            List<string> found = null;
            try
            {
                found = s.ScanDomain.Length == 0 ? VexaDevice.ScanAll() : VexaDevice.Scan(s.ScanDomain);
            }
            catch (VexaException e)
            {
                // A missing adapter is one way of finding nothing.
                if (!s.FallbackToSimulator) throw;
                PostFailure(e);
            }
            if (found != null && found.Count > 0) return found[0];
            if (s.FallbackToSimulator) return SimulatorPort;
            throw new InvalidOperationException("No device was found" +
                                                (s.ScanDomain.Length == 0 ? "." : " in " + s.ScanDomain + "."));
        }

        private static int ReadBattery()
        {
            try
            {
                return VexaDevice.Battery;
            }
            catch (Exception)
            {
                return -1;
            }
        }

        // Left on across reconnections (each read says the layout of its
        // instants). The start that follows takes the capacity and zeroes
        // the library's overflow count, so the ending acquisition's count is
        // kept first.
        private void OpenRing(int capacity)
        {
            lock (ringGate)
            {
                KeepOverflow();
                VexaDevice.EnableSampleRing(capacity);
                ringActive = true;
            }
        }

        private void CloseRing()
        {
            lock (ringGate)
            {
                if (!ringActive) return;
                KeepOverflow();
                ringActive = false;
                VexaDevice.DisableSampleRing();
            }
        }

        // Under ringGate.
        private void KeepOverflow()
        {
            if (ringActive && liveOverflow) lostEarlier += VexaDevice.SampleRingOverflow;
            liveOverflow = false;
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
