using System;
using System.Collections.Generic;
using System.IO;
using System.Runtime.InteropServices;
using System.Text;
using System.Threading;

namespace Vexa.Tests
{
    // The wrapper's own promises: a bounded queue that says what it dropped,
    // a shutdown that leaves the library nothing to call and the next
    // session nothing stale, and a domain that unloads (an editor script
    // reload) leaving no pointer into it behind.
    internal static class WrapperTests
    {
        private const int DeadlineMs = 5000;

        internal static void Register(TestRunner runner)
        {
            runner.Add("a full frame queue keeps the oldest frames and counts the rest; Shutdown ends the loop, " +
                       "disconnects, detaches the handlers and forgets the session", Shutdown);
            runner.Add("a connect held while its script's domain unloads ends, leaving no handler, loop or device",
                       ChildDomains);
            runner.Add("VexaRecording writes the acquisition and a UTF-8 marker to a file; one it cannot write " +
                       "queues one RecordingFailed and Stop throws its cause", Recording);
        }

        // The refusal without an acquisition, a UTF-8 marker in the file, then
        // a file that cannot be written: one RecordingFailed, Stop throws its cause.
        private static void Recording()
        {
            string path = Path.Combine(Path.GetTempPath(), "vexa_cs_recording_" + Environment.TickCount + ".csv");
            string full = path + ".full.csv";
            Check.Equal(0, symlink("/dev/full", full), "a file on a full disk");
            try
            {
                VexaRecording.DescribeChannel(0, "EMG left", "uV", -1000, 1000);
                VexaRecording.Describe("S07", null);
                VexaDevice.Connect("SIM");
                VexaException refused = Check.Throws<VexaException>(() => VexaRecording.Start(path),
                                                                     "no acquisition yet");
                Check.Equal(VexaRecording.FailureCode, refused.Code, "code");
                Check.True(refused.Detail.StartsWith("No acquisition runs"), "detail: " + refused.Detail);

                VexaDevice.StartMask(1000, 0x5, 16);
                VexaRecording.Start(path);
                Acquisition acquisition = new Acquisition();
                acquisition.WaitForFrames(100);
                Check.True(VexaRecording.Marker("boss \u03A9, wave 2"), "marker taken");
                acquisition.WaitForFrames(200);
                acquisition.Interrupt();
                VexaRecording.Stop();
                Check.True(!VexaRecording.Marker("late"), "no marker after the stop");
                string text = File.ReadAllText(path, Encoding.UTF8);
                Check.True(text.Contains(",\"Marker: boss \u03A9, wave 2\"\r\n"), "marker in the file");
                Check.True(text.Split('\n').Length > 100, "rows in the file: " + text.Length + " characters");

                VexaDevice.Stop();
                VexaDevice.StartMask(1000, 0x1, 16);
                VexaRecording.Start(full);
                acquisition = new Acquisition();
                VexaEvent failed = acquisition.WaitForEvent();
                acquisition.WaitForFrames(acquisition.Frames.Count + 50);
                acquisition.Interrupt();
                Check.Equal(1, acquisition.Events.Count, "events: " + string.Join(", ", acquisition.Events));
                Check.Equal(VexaEventKind.RecordingFailed + " " + VexaNative.RecordingFailedCode,
                            failed.Kind + " " + failed.Code, "kind and code");
                VexaException stop = Check.Throws<VexaException>(VexaRecording.Stop, "stop");
                Check.Equal("The recording could not be written: write: No space left on device (errno 28)",
                            stop.Detail, "the cause");
            }
            finally
            {
                File.Delete(path);
                File.Delete(full);
            }
        }

        [DllImport("libc")]
        private static extern int symlink(string target, string linkPath);

        // With domain reload off, statics outlive Play sessions: Shutdown
        // then a new session must start clean.
        private static void Shutdown()
        {
            VexaDevice.MaxQueuedFrames = 20;
            VexaDevice.Connect("SIM");
            VexaDevice.StartMask(1000, 1, 16);
            Thread loop = VexaDevice.StartLoopThread();
            Check.Poll(() => VexaDevice.DroppedFrames > 0, () => "no frame was dropped");
            List<VexaFrame> frames = new List<VexaFrame>();
            Check.Equal(20, VexaDevice.DrainFrames(frames), "frames kept");
            SamplePattern.CheckFrames(frames, new[] { new VexaSource(1, 1, 16, 1) }, 0);
            Check.True(VexaDevice.DroppedFrames > 0, "drops still counted after draining");
            Check.True(VexaDevice.WaitForData(DeadlineMs), "frames queued again");
            VexaNative.OnDisconnectEventDetected(9);  // an event left undrained

            VexaDevice.Shutdown();
            Check.True(loop.Join(DeadlineMs), "loop thread ended");
            Check.True(!VexaDevice.IsConnected, "disconnected");
            Check.Equal("0 0", VexaDevice.DrainFrames(frames) + " " + VexaDevice.DroppedFrames,
                        "frames and drops left for the next session");
            VexaNative.OnDisconnectEventDetected(3);
            VexaNative.OnExceptionRaised(4, "detached");
            List<VexaEvent> events = new List<VexaEvent>();
            Check.Equal(0, VexaDevice.DrainEvents(events), "nothing reached the binding: " +
                                                           string.Join(", ", events));

            // The next use registers them again.
            VexaDevice.Initialize();
            VexaNative.OnDisconnectEventDetected(3);
            Check.Equal(1, VexaDevice.DrainEvents(events), "registered again");
        }

        // A worker's connect held on a silent port while the script's domain
        // unloads, as the editor's domain does at every script reload while
        // the library stays loaded: the unload must cancel it and leave no
        // handler, loop or device behind. (Scripts that leave a loop running
        // or set only the log handler run in the embedding host, mono_host.)
        private static void ChildDomains()
        {
            using (SilentPort silent = new SilentPort())
            {
                // This domain's handlers out of the slots: the script's take them.
                VexaDevice.Shutdown();
                AppDomain child = AppDomain.CreateDomain("script", null, AppDomain.CurrentDomain.SetupInformation);
                child.SetData("port", silent.Path);
                child.DoCallBack(HoldsAConnect);
                silent.WaitForHandshake();
                AppDomain.Unload(child);
                Check.Reports(1, () => VexaDevice.Connect("COM/dev/nonexistent"), "a failure after the unload");
                Check.Reports(31, () => { int unused = VexaDevice.ProductId; }, "no device left behind");
            }
        }

        private static void HoldsAConnect()
        {
            new VexaDeviceWorker { Port = (string)AppDomain.CurrentDomain.GetData("port") }.Start();
        }
    }
}
