using System.Collections.Generic;
using UnityEngine;

namespace Vexa.Samples.LiveSignal
{
    // Put on a GameObject facing the camera: scans, connects to the first
    // free device found ("SIM", the built-in simulated device, when none
    // is), draws every channel live, shows the device, its battery and the
    // last events, and reconnects by itself after a lost link. Each one is a
    // device of its own: TwoDevices puts two side by side.
    [RequireComponent(typeof(VexaDeviceBehaviour))]
    public sealed class LiveSignal : MonoBehaviour
    {
        [Tooltip("Instants shown per trace.")]
        [SerializeField] private int visibleInstants = 2000;
        [SerializeField] private float traceWidth = 10;
        [SerializeField] private float bandHeight = 1.2f;
        [SerializeField] private float lineWidth = 0.02f;
        [SerializeField] private int eventLines = 8;
        [Tooltip("Left edge of the status lines, in pixels.")]
        [SerializeField] private float labelLeft = 10;

        private readonly Queue<string> recentEvents = new Queue<string>();
        private VexaDeviceBehaviour device;
        private SignalTraces traces;
        private long instants;

        // The status lines, rebuilt only when a value they show changes:
        // OnGUI runs several times a frame and would otherwise make new
        // strings each time.
        private string stateLine, deviceLine, countsLine;
        private VexaWorkerState shownState;
        private string shownPath, shownType;
        private int shownBattery, shownChannels;
        private long shownInstants, shownLost;

        // Both are read at Awake: set them before (on an inactive GameObject).
        public float TraceWidth
        {
            get { return traceWidth; }
            set { traceWidth = value; }
        }

        public float LabelLeft
        {
            get { return labelLeft; }
            set { labelLeft = value; }
        }

        private void Awake()
        {
            device = GetComponent<VexaDeviceBehaviour>();
            // Applies to a worker that is already running, too.
            device.AutoReconnect = true;
            traces = new SignalTraces(transform, visibleInstants, traceWidth, bandHeight, lineWidth);
        }

        private void OnEnable()
        {
            device.SamplesRead += OnSamples;
            device.onConnected.AddListener(OnConnected);
            device.onDisconnected.AddListener(OnDisconnected);
            device.onFailure.AddListener(OnFailure);
            device.onDigitalInput.AddListener(OnDigitalInput);
        }

        private void OnDisable()
        {
            device.SamplesRead -= OnSamples;
            device.onConnected.RemoveListener(OnConnected);
            device.onDisconnected.RemoveListener(OnDisconnected);
            device.onFailure.RemoveListener(OnFailure);
            device.onDigitalInput.RemoveListener(OnDigitalInput);
        }

        private void OnDestroy()
        {
            traces.Dispose();
        }

        private void Update()
        {
            traces.Draw();
        }

        private void OnSamples(int[] ticks, int[] samples, int count)
        {
            traces.Push(samples, count, device.Channels);
            instants += count;
        }

        private void OnConnected(string path)
        {
            traces.Clear();
            AddEvent("connected to " + path + " (" + device.DeviceType + ")");
        }

        private void OnDisconnected(int reason)
        {
            string why = reason == VexaDeviceWorker.ReasonEnded ? "ended"
                       : reason == VexaDeviceWorker.ReasonFailure ? "link lost"
                       : reason == 1 ? "no data for 2 s"
                       : "device reason " + reason;
            AddEvent("disconnected: " + why + (device.AutoReconnect ? "; reconnecting" : ""));
        }

        private void OnFailure(int code, string message, string detail)
        {
            AddEvent("failure " + code + ": " + message + (string.IsNullOrEmpty(detail) ? "" : " (" + detail + ")"));
        }

        private void OnDigitalInput(int clockSource, int clockValue, int input, bool state)
        {
            AddEvent("digital input " + input + " -> " + (state ? 1 : 0) + " at clock " + clockValue);
        }

        private void AddEvent(string text)
        {
            recentEvents.Enqueue(text);
            while (recentEvents.Count > Mathf.Max(1, eventLines)) recentEvents.Dequeue();
        }

        private void OnGUI()
        {
            RefreshStatus();
            float y = 10;
            Line(ref y, stateLine);
            if (deviceLine != null) Line(ref y, deviceLine);
            Line(ref y, countsLine);
            foreach (string text in recentEvents) Line(ref y, text);
        }

        private void RefreshStatus()
        {
            if (stateLine == null || device.State != shownState || device.ConnectedPath != shownPath)
            {
                shownState = device.State;
                shownPath = device.ConnectedPath;
                stateLine = "State: " + shownState + (shownPath != null ? "  " + shownPath : "");
                deviceLine = null;
            }
            if (shownPath != null &&
                (deviceLine == null || device.DeviceType != shownType || device.Battery != shownBattery))
            {
                shownType = device.DeviceType;
                shownBattery = device.Battery;
                deviceLine = "Device: " + shownType + "   battery: " +
                             (shownBattery >= 0 ? shownBattery + " %" : "no reading");
            }
            if (countsLine == null || traces.Channels != shownChannels || instants != shownInstants ||
                device.SamplesLost != shownLost)
            {
                shownChannels = traces.Channels;
                shownInstants = instants;
                shownLost = device.SamplesLost;
                countsLine = "Channels: " + shownChannels + "   instants: " + shownInstants + "   lost: " + shownLost;
            }
        }

        private void Line(ref float y, string text)
        {
            GUI.Label(new Rect(labelLeft, y, Screen.width - labelLeft - 10, 20), text);
            y += 20;
        }
    }
}
