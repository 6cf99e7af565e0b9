using System;
using System.Collections.Generic;
using System.Diagnostics;
using System.Threading;

namespace Vexa
{
    // The interface's one current device, for scripts: no pointers, and
    // failures thrown as VexaException where the library reports them for
    // the call in progress. Call everything from one thread (Unity's main
    // thread) except RunLoop, which blocks and belongs on a worker thread.
    // Everything here acts on that one device (its ring, its frames, its
    // recording through VexaRecording); for several devices at once open a
    // VexaSession per device (VexaDeviceBehaviour does), which has its own.
    //
    // Frames and events arrive on the loop's thread, where Unity's API must
    // not be used: they are copied and queued, and DrainFrames/DrainEvents
    // hand them over, typically from Update().
    public static partial class VexaDevice
    {
        // How long Connect, Disconnect and Stop wait for a running loop to end.
        public const int LoopEndTimeoutMs = 5000;

        // How long the clean-up at a domain unload may take in all: the
        // editor waits for it.
        internal const int UnloadBudgetMs = 150;

        private static volatile bool connected;
        // Counts the Cancel calls, so that a connect can tell it was cancelled.
        private static int cancels;

        // Registers the handlers with the library. Every operation that needs
        // them does this itself; calling it early finds a missing library at
        // start-up instead of at the first connect.
        public static void Initialize()
        {
            VexaCallbacks.EnsureRegistered();
        }

        // Sends the library's log to vexa_logs_file.txt in the working
        // directory; this redirects the whole process's standard output.
        public static int OpenLogFile()
        {
            return VexaNative.WelcomeFunction();
        }

        // path: as a scan returns it, or a serial port such as "COM7" (on
        // Linux "COM" + the device file, "COM/dev/ttyUSB0").
        public static void Connect(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            VexaLoop.EndBefore("Connect", LoopEndTimeoutMs);
            byte[] utf8 = VexaText.ToUtf8(path);
            int cancelsBefore = Volatile.Read(ref cancels);
            // On failure the library keeps the device it had; a cancelled
            // connect reports nothing and keeps it too.
            VexaCallbacks.Call(() => VexaNative.VexaDevUnity(utf8));
            if (Volatile.Read(ref cancels) == cancelsBefore) connected = true;
        }

        // Ends a Connect or a Scan running on another thread within about
        // 100 ms: the Connect returns keeping the earlier device (IsConnected
        // tells), the Scan returns what it found so far. Any thread; does
        // nothing when neither runs.
        public static void Cancel()
        {
            Interlocked.Increment(ref cancels);
            VexaNative.VexaExtCancel();
        }

        // Ends a running loop first: the library must not free the device
        // under it. Stops a running acquisition and closes the link.
        public static void Disconnect()
        {
            VexaLoop.EndBefore("Disconnect", LoopEndTimeoutMs);
            VexaNative.DisconnectVexaDevUnity();
            connected = false;
        }

        // Ends the loop, disconnects, turns the sample ring off, detaches
        // the handlers and forgets every queued frame and event and the
        // counts: for OnApplicationQuit, or before the managed side goes
        // away; the next session (statics kept, as with domain reload off)
        // starts clean. A loop that will not end keeps its device (freeing
        // it under the loop would crash) but loses the handlers, which the
        // library then skips. Never call it beside a Connect or a Scan.
        public static void Shutdown()
        {
            DisableSampleRing();
            if (VexaLoop.Interrupt(LoopEndTimeoutMs))
            {
                VexaNative.DisconnectVexaDevUnity();
                connected = false;
            }
            VexaCallbacks.Unregister();
            VexaInbox.Clear();
        }

        // The domain is going while the library stays loaded: take back every
        // pointer into it, end what runs, and return within UnloadBudgetMs
        // whatever the library does, never waiting on a blocked call.
        internal static void ReleaseForUnload()
        {
            Stopwatch elapsed = Stopwatch.StartNew();
            VexaDeviceWorker[] workers = null;
            bool loopEnded = false;
            // Each step whatever the one before did (a library older than
            // this binding lacks some exports).
            Action[] steps =
            {
                VexaCallbacks.Close, () => workers = VexaDeviceWorker.RequestAllStop(), Cancel,
                () => loopEnded = VexaLoop.Interrupt(UnloadBudgetMs / 2),
                () =>
                {
                    // Workers close their sessions on their own threads; a
                    // scan of theirs (cancelled now) is the only use they
                    // make of the current device.
                    foreach (VexaDeviceWorker worker in workers)
                    {
                        worker.WaitUntilEnded(Math.Max(0, UnloadBudgetMs - (int)elapsed.ElapsedMilliseconds));
                    }
                },
                () =>
                {
                    if (!loopEnded) return;
                    VexaNative.VexaExtDisableSampleRing();
                    VexaNative.DisconnectVexaDevUnity();
                    connected = false;
                },
            };
            foreach (Action step in steps)
            {
                try
                {
                    step();
                }
                catch (Exception)
                {
                    // Unloading goes on whatever the library says.
                }
            }
        }

        // The part of every message's delay no host can see (the link's
        // constant latency and the device's filter delay), in seconds,
        // measured once per link with a light sensor or a pulse on a digital
        // input: instant times come that much earlier. 0 by default; applies
        // to the current device and every later connection. Throws
        // ArgumentOutOfRangeException for a value not finite or negative.
        public static double LinkDelay
        {
            set
            {
                if (VexaNative.VexaExtSetLinkDelay(value) != 0)
                    throw new ArgumentOutOfRangeException("value", value, "The link delay must be finite and 0 or more.");
            }
        }

        public static bool IsConnected
        {
            get { return connected; }
        }

        public static int ProductId
        {
            get
            {
                int id = 0;
                VexaCallbacks.Call(() => id = VexaNative.GetProductId());
                return id;
            }
        }

        // "tessarimodular", "Quillbox", "Strandelo QZ Vexa", "FernlitVexa",
        // "Cadrium", "Not supported device" or "undefined_device".
        public static string DeviceType
        {
            get
            {
                IntPtr text = IntPtr.Zero;
                VexaCallbacks.Call(() => text = VexaNative.GetDeviceType());
                return VexaText.FromUtf8(text);
            }
        }

        // Charge in percent, or -1 when the device gives no reading.
        public static int Battery
        {
            get
            {
                VexaLoop.RequireStopped("Battery");
                return VexaNative.GetBattery();
            }
        }

        // Channels of the running acquisition; 0 when none runs.
        public static int ChannelCount
        {
            get { return VexaNative.GetNbrChannels(); }
        }

        // True from a start until an interrupt ends the loop.
        public static bool CommunicationFlag
        {
            get { return VexaNative.GetCommunicationFlag(); }
        }

        // dataType 1: one byte, data[0], for index 1, 2 or 3; dataType 2: two
        // bytes, data[0] and data[1], for index 3. The library refuses other
        // combinations (code 40).
        public static void SetParameter(int port, int index, int[] data, int dataType)
        {
            if (data == null) throw new ArgumentNullException("data");
            int needed = dataType == 2 ? 2 : 1;
            if (data.Length < needed)
            {
                throw new ArgumentException("dataType " + dataType + " needs " + needed + " value(s).", "data");
            }
            VexaLoop.RequireStopped("SetParameter");
            // The library reads up to two entries whatever the type.
            int[] padded = new int[Math.Max(2, data.Length)];
            Array.Copy(data, padded, data.Length);
            VexaCallbacks.Call(() => VexaNative.SetParameter(port, index, padded, dataType));
        }

        // domain: "BTH", "BLE" or "USB" (any case). Returns the paths found.
        public static List<string> Scan(string domain)
        {
            if (domain == null) throw new ArgumentNullException("domain");
            byte[] utf8 = VexaText.ToUtf8(domain);
            return VexaCallbacks.CallScan(() => VexaNative.GetDetectableDevices(utf8));
        }

        // Every domain; one without its adapter or driver is skipped.
        public static List<string> ScanAll()
        {
            return VexaCallbacks.CallScan(VexaNative.GetAllDetectableDevices);
        }

        // Moves the queued frames into `into`, oldest first; returns how many.
        public static int DrainFrames(List<VexaFrame> into)
        {
            if (into == null) throw new ArgumentNullException("into");
            return VexaInbox.DrainFrames(into);
        }

        public static int DrainEvents(List<VexaEvent> into)
        {
            if (into == null) throw new ArgumentNullException("into");
            return VexaInbox.DrainEvents(into);
        }

        // Waits until a frame or an event is queued (negative: no limit).
        public static bool WaitForData(int timeoutMs)
        {
            return VexaInbox.WaitForData(timeoutMs);
        }

        // Frames beyond this many undrained ones are dropped and counted.
        public static int MaxQueuedFrames
        {
            get { return VexaInbox.MaxFrames; }
            set
            {
                if (value < 1) throw new ArgumentOutOfRangeException("value", "At least one frame must fit.");
                VexaInbox.MaxFrames = value;
            }
        }

        public static long DroppedFrames
        {
            get { return VexaInbox.DroppedFrames; }
        }

        // Forgets every queued frame and event and the dropped count.
        public static void ClearQueues()
        {
            VexaInbox.Clear();
        }
    }
}
