using System;
using System.Collections.Generic;
using UnityEngine;
#if UNITY_EDITOR
using UnityEditor;
#endif

namespace Vexa
{
    // Connects to a Vexa device and acquires from it without ever blocking
    // the main thread: the device is a VexaSession (Session) of its own, so
    // several components in a scene (one per GameObject) acquire several
    // devices at once, all timed on the one host clock. The scan and the
    // connect run on a VexaDeviceWorker's thread, the acquisition loop on
    // the library's. Update raises the UnityEvents on the main thread and
    // pulls the samples that arrived from the session's ring into reusable
    // arrays, handed to SamplesRead and BlockRead and kept for ReadLatest.
    // Runs before default scripts, so their Update sees this frame's
    // samples.
    //
    // Ends cleanly on OnDisable, on quit and before an editor domain reload,
    // without ever waiting on the main thread: a scan in progress is
    // cancelled, and the worker's thread ends the loop, closes the session
    // and, on quit and reload, detaches the library's handlers. Enabled
    // again before that is done, it connects once the old session has
    // ended.
    [AddComponentMenu("Vexa/Vexa Device")]
    [DisallowMultipleComponent]
    [DefaultExecutionOrder(-100)]
    public sealed class VexaDeviceBehaviour : MonoBehaviour
    {
        // Ending no longer waits for the worker; kept for scripts that name it.
        public const int StopTimeoutMs = 10000;
        private const int MaxReadsPerUpdate = 64;
        // Samples per instant a block has room for at first; it grows when
        // an acquisition has more.
        private const int InitialBlockChannels = 8;
        private const int MaxChannels = 512;

        [Header("Connection")]
        [Tooltip("A connection path (\"COM7\", \"COM/dev/ttyUSB0\", \"BTH...\", \"BLE...\", \"USB0\", \"SIM\"), " +
                 "or \"scan\" for the first device a scan finds.")]
        [SerializeField] private string port = VexaDeviceWorker.ScanPort;
        [Tooltip("Links a \"scan\" searches.")]
        [SerializeField] private VexaScanDomain scanDomain = VexaScanDomain.All;
        [Tooltip("Connect to the built-in simulated device (\"SIM\") when a scan finds nothing.")]
        [SerializeField] private bool fallbackToSimulator = true;
        [Tooltip("Connect when the component is enabled.")]
        [SerializeField] private bool connectOnEnable = true;

        [Header("Acquisition")]
        [SerializeField] private int baseFrequency = 1000;
        [Tooltip("One character per port from port 1; '1' acquires it.")]
        [SerializeField] private string channels = "11";
        [SerializeField] private int bits = 16;
        [Tooltip("Instants one read takes from the ring (the size of a block).")]
        [SerializeField] private int blockInstants = 1024;

        [Header("Reconnection")]
        [Tooltip("After a lost link or a failed attempt, try again after 1, 2, 4, ... seconds.")]
        [SerializeField] private bool autoReconnect;
        [SerializeField] private float firstRetryDelaySeconds = 1;
        [SerializeField] private float maxRetryDelaySeconds = 30;
        [Tooltip("Also write each failure to the console.")]
        [SerializeField] private bool logFailures = true;

        [Header("Events (raised in Update)")]
        public VexaConnectedEvent onConnected = new VexaConnectedEvent();
        public VexaDisconnectedEvent onDisconnected = new VexaDisconnectedEvent();
        public VexaFailureEvent onFailure = new VexaFailureEvent();
        public VexaDigitalInputEvent onDigitalInput = new VexaDigitalInputEvent();
        // The sample ring dropped instants (read faster, or give it room):
        // SamplesLost so far.
        public VexaSampleRingOverflowEvent onSampleRingOverflow = new VexaSampleRingOverflowEvent();

        // Every block read from the ring, in Update: (ticks, samples
        // instant-major with Channels per instant, instants). The arrays are
        // reused: copy what you keep.
        public event Action<int[], int[], int> SamplesRead;

        // The same blocks with ticks that never wrap, and the block's own
        // channel count: (ticks, samples, instants, channels).
        public event Action<long[], int[], int, int> BlockRead;

        private readonly List<VexaSessionEvent> drained = new List<VexaSessionEvent>();
        private VexaDeviceWorker worker;
        private long[] tickBlock = new long[0];
        private int[] narrowTicks = new int[0];
        private int[] sampleBlock = new int[0];
        private int blockChannels;
        private int blockAcquisition;
        private int latestCount;
        private bool readingFailed;
        // Asked to stop, and whether to connect again once it has ended.
        private bool stopping;
        private bool connectWhenEnded;

        public string Port
        {
            get { return port; }
            set { port = value; ApplySettings(); }
        }

        public bool AutoReconnect
        {
            get { return autoReconnect; }
            set { autoReconnect = value; ApplySettings(); }
        }

        // The reconnection waits: the first, doubled up to the maximum. Read
        // at each attempt.
        public float FirstRetryDelaySeconds
        {
            get { return firstRetryDelaySeconds; }
            set { firstRetryDelaySeconds = value; ApplySettings(); }
        }

        public float MaxRetryDelaySeconds
        {
            get { return maxRetryDelaySeconds; }
            set { maxRetryDelaySeconds = value; ApplySettings(); }
        }

        public VexaWorkerState State
        {
            get { return worker != null ? worker.State : VexaWorkerState.Idle; }
        }

        public bool IsRunning
        {
            get { return worker != null && worker.IsRunning; }
        }

        // This component's device while it acquires, for its recording
        // (StartRecording, AddMarker), parameters and layout; null between
        // sessions. Its samples and events are the component's to read:
        // halting, stopping or closing it ends the component's session.
        public VexaSession Session
        {
            get { return worker != null ? worker.Session : null; }
        }

        // Set by the last Connected event; cleared by Disconnected.
        public string ConnectedPath { get; private set; }
        public string DeviceType { get; private set; }
        // Percent at the last connect, or -1.
        public int Battery { get; private set; }

        // Channels per instant of the latest block, as it was packed.
        public int Channels
        {
            get { return blockChannels; }
        }

        // The acquisition the latest block belongs to (+1 at every start).
        public int Acquisition
        {
            get { return blockAcquisition; }
        }

        // Instants read in this frame's Update (the latest block).
        public int LatestCount
        {
            get { return latestCount; }
        }

        // Instants the ring had to drop since Connect (reading too slowly),
        // as the library told them; kept after the session ends.
        public long SamplesLost
        {
            get { return worker != null ? worker.SamplesLost : 0; }
        }

        // Starts scanning, connecting and acquiring; a session already
        // running is left as it is, one still ending is followed by the new
        // one once it has ended. Failures arrive through onFailure.
        public void Connect()
        {
            if (IsRunning)
            {
                connectWhenEnded = stopping;
                return;
            }
            try
            {
                if (worker == null) worker = new VexaDeviceWorker();
                ApplySettings();
                readingFailed = false;
                stopping = connectWhenEnded = false;
                latestCount = blockChannels = blockAcquisition = 0;
                worker.Start();
            }
            catch (Exception e)
            {
                ReportFailure(e);
            }
        }

        // Ends the session without waiting: a scan or connect in progress is
        // cancelled and the worker's thread disconnects; IsRunning turns
        // false once it is done.
        public void Disconnect()
        {
            EndWorker(false);
        }

        // Copies the newest instants of the latest block into the caller's
        // arrays (ticks, and samples instant-major with Channels per
        // instant); returns how many, 0 when nothing arrived this frame.
        public int ReadLatest(int[] ticks, int[] samples)
        {
            if (ticks == null) throw new ArgumentNullException("ticks");
            if (samples == null) throw new ArgumentNullException("samples");
            if (latestCount == 0 || blockChannels == 0) return 0;
            int count = Math.Min(latestCount, Math.Min(ticks.Length, samples.Length / blockChannels));
            int first = latestCount - count;
            for (int i = 0; i < count; i++) ticks[i] = unchecked((int)tickBlock[first + i]);
            Array.Copy(sampleBlock, first * blockChannels, samples, 0, count * blockChannels);
            return count;
        }

        private void OnEnable()
        {
#if UNITY_EDITOR
            AssemblyReloadEvents.beforeAssemblyReload += OnBeforeAssemblyReload;
#endif
            if (connectOnEnable) Connect();
        }

        private void OnDisable()
        {
#if UNITY_EDITOR
            AssemblyReloadEvents.beforeAssemblyReload -= OnBeforeAssemblyReload;
#endif
            EndWorker(false);
        }

        private void OnApplicationQuit()
        {
            EndAll();
        }

#if UNITY_EDITOR
        // The native library stays loaded across a reload: nothing in it may
        // point into the managed code that is about to go.
        private void OnBeforeAssemblyReload()
        {
            EndAll();
        }
#endif

        private void OnValidate()
        {
            ApplySettings();
        }

        private void Update()
        {
            if (worker == null) return;
            if (connectWhenEnded && !worker.IsRunning) Connect();
            drained.Clear();
            worker.DrainEvents(drained);
            foreach (VexaSessionEvent e in drained) Raise(e);
            drained.Clear();
            latestCount = 0;
            if (readingFailed) return;
            try
            {
                PullSamples();
            }
            catch (Exception e)
            {
                // Reported once; reading resumes with the next Connect.
                readingFailed = true;
                ReportFailure(e);
            }
        }

        // Each read says the channel count its instants were packed with: a
        // restart with other channels between two reads never mixes them.
        private void PullSamples()
        {
            int instants = Math.Max(1, blockInstants);
            if (tickBlock.Length != instants)
            {
                tickBlock = new long[instants];
                sampleBlock = new int[instants * Math.Max(InitialBlockChannels, worker.SampleChannels)];
            }
            for (int i = 0; i < MaxReadsPerUpdate; i++)
            {
                int count, channels, acquisition;
                try
                {
                    count = worker.ReadSamples(tickBlock, null, sampleBlock, out channels, out acquisition);
                }
                catch (ArgumentException)
                {
                    // The waiting acquisition has more channels than a block
                    // holds: make room, and read again.
                    int room = sampleBlock.Length / instants;
                    if (room >= MaxChannels) throw;
                    sampleBlock = new int[instants * Math.Min(MaxChannels, Math.Max(room * 2, worker.SampleChannels))];
                    continue;
                }
                if (count <= 0) return;
                latestCount = count;
                blockChannels = channels;
                blockAcquisition = acquisition;
                RaiseBlock(count, channels);
                if (count < instants) return;
            }
        }

        private void RaiseBlock(int count, int channels)
        {
            Action<long[], int[], int, int> wide = BlockRead;
            if (wide != null) wide(tickBlock, sampleBlock, count, channels);
            Action<int[], int[], int> narrow = SamplesRead;
            if (narrow == null) return;
            if (narrowTicks.Length != tickBlock.Length) narrowTicks = new int[tickBlock.Length];
            for (int i = 0; i < count; i++) narrowTicks[i] = unchecked((int)tickBlock[i]);
            narrow(narrowTicks, sampleBlock, count);
        }

        private void Raise(VexaSessionEvent e)
        {
            switch (e.Kind)
            {
                case VexaSessionEventKind.Connected:
                    ConnectedPath = e.Path;
                    DeviceType = e.DeviceType;
                    Battery = e.Battery;
                    onConnected.Invoke(e.Path);
                    break;
                case VexaSessionEventKind.Disconnected:
                    ConnectedPath = null;
                    onDisconnected.Invoke(e.Reason);
                    break;
                case VexaSessionEventKind.Failure:
                    RaiseFailure(e.Code, e.Message, e.Detail);
                    break;
                case VexaSessionEventKind.DigitalInput:
                    onDigitalInput.Invoke(e.ClockSource, e.ClockValue, e.Input, e.State);
                    break;
                case VexaSessionEventKind.SampleRingOverflow:
                    if (logFailures) Debug.LogWarning("Vexa: the sample ring overflowed; read faster.", this);
                    onSampleRingOverflow.Invoke(SamplesLost);
                    break;
            }
        }

        // Settings are read by the worker before each attempt, so a change
        // made while it runs applies at the next (re)connection.
        private void ApplySettings()
        {
            if (worker == null) return;
            int firstMs = Milliseconds(firstRetryDelaySeconds);
            worker.Backoff.SetDelays(firstMs, Math.Max(firstMs, Milliseconds(maxRetryDelaySeconds)));
            worker.Port = port;
            worker.ScanDomain = scanDomain == VexaScanDomain.All ? "" : scanDomain.ToString();
            worker.FallbackToSimulator = fallbackToSimulator;
            worker.BaseFrequency = baseFrequency;
            worker.Channels = channels;
            worker.Bits = bits;
            worker.AutoReconnect = autoReconnect;
        }

        // Seconds from the inspector as milliseconds, kept within 1 ms to 1 h.
        private static int Milliseconds(float seconds)
        {
            if (!(seconds >= 0.001f)) return 1;
            return seconds > 3600 ? 3600000 : (int)(seconds * 1000);
        }

        // Never waits: the worker ends on its own thread, and with shutdown
        // also detaches the library's handlers there, after its last call.
        private void EndWorker(bool shutdown)
        {
            connectWhenEnded = false;
            if (worker != null && worker.IsRunning)
            {
                stopping = true;
                worker.RequestStop(shutdown);
                return;
            }
            if (shutdown) VexaDeviceWorker.ShutdownInBackground();
        }

        private void EndAll()
        {
            EndWorker(true);
        }

        private void ReportFailure(Exception e)
        {
            VexaException vexa = e as VexaException;
            RaiseFailure(vexa != null ? vexa.Code : VexaDeviceWorker.WorkerFailureCode, e.Message,
                         vexa != null ? vexa.Detail : e.GetType().Name);
        }

        private void RaiseFailure(int code, string message, string detail)
        {
            if (logFailures) Debug.LogWarning("Vexa failure " + code + ": " + message + " " + detail, this);
            onFailure.Invoke(code, message, detail);
        }
    }
}
