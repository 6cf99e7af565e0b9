using System;
using System.Collections.Generic;
using UnityEngine;
#if UNITY_EDITOR
using UnityEditor;
#endif

namespace Vexa
{
    // Connects to a Vexa device and acquires from it without ever blocking
    // the main thread: the scan, the connect and the loop run on a
    // VexaDeviceWorker's thread. Update raises the UnityEvents on the main
    // thread and pulls the samples that arrived into reusable arrays, handed
    // to SamplesRead and kept for ReadLatest. Runs before default scripts, so
    // their Update sees this frame's samples.
    //
    // Ends cleanly on OnDisable, on quit and before an editor domain reload:
    // the loop is ended, the device disconnected and, on quit and reload, the
    // library's handlers detached.
    [AddComponentMenu("Vexa/Vexa Device")]
    [DisallowMultipleComponent]
    [DefaultExecutionOrder(-100)]
    public sealed class VexaDeviceBehaviour : MonoBehaviour
    {
        // How long ending waits for the worker: a BLE scan takes about 6 s,
        // a connect about 1 s, and the worker ends after the one it is in.
        public const int StopTimeoutMs = 10000;
        private const int MaxReadsPerUpdate = 64;

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
        [Tooltip("Instants the sample ring holds; 0 takes the binding's default.")]
        [SerializeField] private int sampleRingCapacity;
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

        // Every block read from the ring, in Update: (ticks, samples
        // instant-major with Channels per instant, instants). The arrays are
        // reused: copy what you keep.
        public event Action<int[], int[], int> SamplesRead;

        private readonly List<VexaSessionEvent> drained = new List<VexaSessionEvent>();
        private VexaDeviceWorker worker;
        private int[] tickBlock = new int[0];
        private int[] sampleBlock = new int[0];
        private int blockChannels;
        private int latestCount;
        private bool readingFailed;

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

        public VexaWorkerState State
        {
            get { return worker != null ? worker.State : VexaWorkerState.Idle; }
        }

        public bool IsRunning
        {
            get { return worker != null && worker.IsRunning; }
        }

        // Set by the last Connected event; cleared by Disconnected.
        public string ConnectedPath { get; private set; }
        public string DeviceType { get; private set; }
        // Percent at the last connect, or -1.
        public int Battery { get; private set; }

        // Channels per instant of the latest block.
        public int Channels
        {
            get { return blockChannels; }
        }

        // Instants read in this frame's Update (the latest block).
        public int LatestCount
        {
            get { return latestCount; }
        }

        // Instants the ring had to drop in this session (reading too slowly).
        public long SamplesLost
        {
            get { return worker != null ? worker.SamplesLost : 0; }
        }

        // Starts scanning, connecting and acquiring; a worker already running
        // is left as it is. Failures arrive through onFailure.
        public void Connect()
        {
            if (IsRunning) return;
            try
            {
                if (worker == null)
                {
                    int firstMs = Milliseconds(firstRetryDelaySeconds);
                    int maxMs = Math.Max(firstMs, Milliseconds(maxRetryDelaySeconds));
                    worker = new VexaDeviceWorker(new VexaReconnectBackoff(firstMs, maxMs));
                }
                ApplySettings();
                readingFailed = false;
                worker.Start();
            }
            catch (Exception e)
            {
                ReportFailure(e);
            }
        }

        // Ends the session and waits for the worker (at most StopTimeoutMs).
        public void Disconnect()
        {
            EndWorker();
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
            Array.Copy(tickBlock, first, ticks, 0, count);
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
            EndWorker();
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

        private void PullSamples()
        {
            int channelCount = worker.SampleChannels;
            if (channelCount <= 0) return;
            int instants = Math.Max(1, blockInstants);
            if (channelCount != blockChannels || tickBlock.Length != instants)
            {
                tickBlock = new int[instants];
                sampleBlock = new int[instants * channelCount];
                blockChannels = channelCount;
            }
            for (int i = 0; i < MaxReadsPerUpdate; i++)
            {
                int count = worker.ReadSamples(tickBlock, sampleBlock);
                if (count <= 0) return;
                latestCount = count;
                Action<int[], int[], int> handler = SamplesRead;
                if (handler != null) handler(tickBlock, sampleBlock, count);
                if (count < instants) return;
            }
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
            }
        }

        // Settings are read by the worker before each attempt, so a change
        // made while it runs applies at the next (re)connection.
        private void ApplySettings()
        {
            if (worker == null) return;
            worker.Port = port;
            worker.ScanDomain = scanDomain == VexaScanDomain.All ? "" : scanDomain.ToString();
            worker.FallbackToSimulator = fallbackToSimulator;
            worker.BaseFrequency = baseFrequency;
            worker.Channels = channels;
            worker.Bits = bits;
            worker.SampleRingCapacity = sampleRingCapacity;
            worker.AutoReconnect = autoReconnect;
        }

        // Seconds from the inspector as milliseconds, kept within 1 ms to 1 h.
        private static int Milliseconds(float seconds)
        {
            if (!(seconds >= 0.001f)) return 1;
            return seconds > 3600 ? 3600000 : (int)(seconds * 1000);
        }

        private void EndWorker()
        {
            if (worker == null || worker.Stop(StopTimeoutMs)) return;
            Debug.LogWarning("The Vexa device worker is still busy (a scan or a connect) and ends by itself " +
                             "when that returns.", this);
        }

        private void EndAll()
        {
            EndWorker();
            try
            {
                VexaDevice.Shutdown();
            }
            catch (Exception e)
            {
                Debug.LogWarning("Vexa shutdown: " + e.Message, this);
            }
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
