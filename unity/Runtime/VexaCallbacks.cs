using System;
using System.Collections.Generic;
using System.Runtime.InteropServices;
using AOT;

namespace Vexa
{
    // The handlers the library calls. They run on the library's thread (the
    // loop's, or the caller's during a synchronous export), copy what they
    // are given at once (the pointers die when they return) and hand it on:
    // to the call in progress on this thread, or to the inbox.
    internal static class VexaCallbacks
    {
        // The library keeps only the function pointers: these fields keep the
        // delegates behind them alive for as long as the process runs.
        private static readonly NewDeviceFoundHandler NewDeviceFoundDelegate = OnNewDeviceFound;
        private static readonly RawDataHandler RawDataDelegate = OnRawData;
        private static readonly ExceptionRaisedHandler ExceptionRaisedDelegate = OnExceptionRaised;
        private static readonly DisconnectEventHandler DisconnectDelegate = OnDisconnect;
        private static readonly DigInEventHandler DigInDelegate = OnDigIn;

        private static readonly object Gate = new object();
        private static bool registered;
        // While the sample ring is on, the raw-data slot stays empty: no
        // managed call per sample instant.
        private static bool pulling;
        private static bool unloadHooked;
        // Set once the domain unloads: nothing hands the library a pointer
        // into it again.
        private static bool closed;

        // Set while a synchronous call runs on this thread: its failure is
        // thrown to the caller instead of queued, and a scan collects paths.
        [ThreadStatic] private static bool capturing;
        [ThreadStatic] private static VexaException captured;
        [ThreadStatic] private static List<string> scanned;

        internal static void EnsureRegistered()
        {
            lock (Gate)
            {
                if (registered) return;
                BeforeHandingPointers();
                VexaNative.SetOnExceptionRaisedHandler(ExceptionRaisedDelegate);
                VexaNative.SetOnRawDataHandler(pulling ? null : RawDataDelegate);
                VexaNative.SetOnEventDetectedHandlers(DisconnectDelegate, DigInDelegate);
                VexaNative.SetNewDeviceFoundHandler(NewDeviceFoundDelegate);
                registered = true;
            }
        }

        // The log handler's slot; null empties it.
        internal static void SetLogHandler(LogHandler handler, int maxLevel)
        {
            lock (Gate)
            {
                if (handler != null) BeforeHandingPointers();
                VexaNative.VexaExtSetLogHandler(handler, maxLevel);
            }
        }

        // The one place every path that hands the library a pointer into
        // this domain goes through: the native library outlives the domain
        // (an editor script reload), so the first pointer also registers the
        // clean-up that takes every pointer back when the domain unloads.
        private static void BeforeHandingPointers()
        {
            if (closed)
            {
                throw new InvalidOperationException("The application domain is unloading: the Vexa library takes " +
                                                    "no more handlers from it.");
            }
            if (unloadHooked) return;
            AppDomain.CurrentDomain.DomainUnload += OnDomainUnload;
            unloadHooked = true;
        }

        // True once the domain unloads.
        internal static bool IsClosed
        {
            get { lock (Gate) return closed; }
        }

        // Sessions hand the library no pointer, but the next domain needs
        // their links free: they too are closed at unload.
        internal static void BeforeSessions()
        {
            lock (Gate) BeforeHandingPointers();
        }

        private static void OnDomainUnload(object sender, EventArgs args)
        {
            VexaDevice.ReleaseForUnload();
            VexaSession.CloseAllForUnload();
        }

        // Empties every slot for good: from now on no native thread calls
        // into this domain, and nothing registers again.
        internal static void Close()
        {
            lock (Gate) closed = true;
            Unregister();
        }

        // The library skips empty slots, so nothing calls into managed code
        // that may be about to go away (an editor domain reload).
        internal static void Unregister()
        {
            lock (Gate)
            {
                VexaNative.VexaExtSetLogHandler(null, 0);
                VexaNative.SetOnExceptionRaisedHandler(null);
                VexaNative.SetOnRawDataHandler(null);
                VexaNative.SetOnEventDetectedHandlers(null, null);
                VexaNative.SetNewDeviceFoundHandler(null);
                registered = false;
            }
        }

        // Pulling (the sample ring on) empties the raw-data slot; not pulling
        // puts the per-sample handler back.
        internal static void SetPulling(bool on)
        {
            lock (Gate)
            {
                pulling = on;
                if (registered) VexaNative.SetOnRawDataHandler(on ? null : RawDataDelegate);
            }
        }

        // Runs an export; a failure it reports becomes a VexaException.
        internal static void Call(Action export)
        {
            EnsureRegistered();
            capturing = true;
            captured = null;
            try
            {
                export();
            }
            finally
            {
                capturing = false;
            }
            VexaException failure = captured;
            captured = null;
            if (failure != null) throw failure;
        }

        // Runs a scan export and returns the paths it announced.
        internal static List<string> CallScan(Action export)
        {
            List<string> found = new List<string>();
            scanned = found;
            try
            {
                Call(export);
            }
            finally
            {
                scanned = null;
            }
            return found;
        }

        [MonoPInvokeCallback(typeof(RawDataHandler))]
        private static void OnRawData(int nSeq, IntPtr samples, int nChannels)
        {
            // A managed exception must never unwind through the library.
            try
            {
                int[] copy = new int[nChannels > 0 ? nChannels : 0];
                if (copy.Length > 0 && samples != IntPtr.Zero) Marshal.Copy(samples, copy, 0, copy.Length);
                VexaInbox.AddFrame(new VexaFrame(nSeq, copy));
            }
            catch (Exception)
            {
            }
        }

        [MonoPInvokeCallback(typeof(ExceptionRaisedHandler))]
        private static void OnExceptionRaised(int code, IntPtr message)
        {
            try
            {
                string text = VexaText.FromUtf8(message);
                // The library keeps the cause for this thread before it calls.
                string detail = VexaText.FromUtf8(VexaNative.VexaExtGetLastErrorDetail());
                if (code == VexaNative.SampleRingOverflowCode || code == VexaNative.RecordingFailedCode)
                {
                    VexaInbox.AddEvent(new VexaEvent
                    {
                        Kind = code == VexaNative.SampleRingOverflowCode ? VexaEventKind.SampleRingOverflow
                                                                         : VexaEventKind.RecordingFailed,
                        Code = code, Message = text, Detail = detail
                    });
                    return;
                }
                // The first failure of a call is the one that stopped it.
                if (capturing && captured == null)
                {
                    captured = new VexaException(code, text, detail);
                    return;
                }
                VexaInbox.AddEvent(new VexaEvent
                {
                    Kind = VexaEventKind.Failure, Code = code, Message = text, Detail = detail
                });
            }
            catch (Exception)
            {
            }
        }

        [MonoPInvokeCallback(typeof(DisconnectEventHandler))]
        private static void OnDisconnect(int reason)
        {
            try
            {
                VexaInbox.AddEvent(new VexaEvent { Kind = VexaEventKind.Disconnect, Reason = reason });
            }
            catch (Exception)
            {
            }
        }

        [MonoPInvokeCallback(typeof(DigInEventHandler))]
        private static void OnDigIn(int clockSource, int clockValue, int input, bool state)
        {
            try
            {
                VexaInbox.AddEvent(new VexaEvent
                {
                    Kind = VexaEventKind.DigitalInput,
                    ClockSource = clockSource,
                    ClockValue = clockValue,
                    Input = input,
                    State = state,
                });
            }
            catch (Exception)
            {
            }
        }

        [MonoPInvokeCallback(typeof(NewDeviceFoundHandler))]
        private static void OnNewDeviceFound(IntPtr path)
        {
            try
            {
                string text = VexaText.FromUtf8(path);
                if (scanned != null)
                {
                    scanned.Add(text);
                    return;
                }
                VexaInbox.AddEvent(new VexaEvent { Kind = VexaEventKind.DeviceFound, Path = text });
            }
            catch (Exception)
            {
            }
        }
    }
}
