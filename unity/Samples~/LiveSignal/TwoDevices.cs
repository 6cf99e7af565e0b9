using UnityEngine;

namespace Vexa.Samples.LiveSignal
{
    // Put on an empty GameObject facing the camera: makes two children side
    // by side, each with a Vexa Device of its own and its LiveSignal traces,
    // so that two devices acquire at once (two simulated ones, "SIM", by
    // default: every "SIM" is a device of its own). Both are timed on the one
    // host clock; Space puts the same marker in both devices' recordings,
    // each at its own instant nearest the key press, once R has started them.
    public sealed class TwoDevices : MonoBehaviour
    {
        [Tooltip("A path, \"scan\" (the first free device found) or \"SIM\".")]
        [SerializeField] private string leftPort = VexaDeviceWorker.SimulatorPort;
        [SerializeField] private string rightPort = VexaDeviceWorker.SimulatorPort;
        [Tooltip("Where R records: one file per device, left.bdf and right.bdf.")]
        [SerializeField] private string recordingFolder = "";

        private VexaDeviceBehaviour left, right;

        private void Awake()
        {
            left = AddDevice("Left device", leftPort, -5.5f, 10);
            right = AddDevice("Right device", rightPort, 5.5f, Screen.width / 2f);
        }

        private VexaDeviceBehaviour AddDevice(string name, string port, float x, float labelLeft)
        {
            GameObject child = new GameObject(name);
            // Configured before its components wake and connect.
            child.SetActive(false);
            child.transform.SetParent(transform, false);
            child.transform.localPosition = new Vector3(x, 0, 0);
            VexaDeviceBehaviour device = child.AddComponent<VexaDeviceBehaviour>();
            device.Port = port;
            LiveSignal traces = child.AddComponent<LiveSignal>();
            traces.TraceWidth = 10;
            traces.LabelLeft = labelLeft;
            child.SetActive(true);
            return device;
        }

        private void Update()
        {
            if (Input.GetKeyDown(KeyCode.R))
            {
                Record(left, "left.bdf");
                Record(right, "right.bdf");
            }
            if (Input.GetKeyDown(KeyCode.Space))
            {
                // Timed now, placed in each file at that file's own instant.
                try
                {
                    VexaSession.AddMarkerToAll("space");
                }
                catch (System.InvalidOperationException e)
                {
                    Debug.LogWarning("No marker: " + e.Message, this);
                }
            }
        }

        private void Record(VexaDeviceBehaviour device, string file)
        {
            VexaSession session = device.Session;
            if (session == null) return;
            try
            {
                session.StartRecording(System.IO.Path.Combine(recordingFolder, file));
            }
            catch (System.Exception e)
            {
                Debug.LogWarning("Recording " + file + ": " + e.Message, this);
            }
        }
    }
}
