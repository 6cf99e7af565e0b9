using System;

namespace Vexa
{
    // The host clock every sample instant and marker of the library is timed
    // on: seconds on a monotonic clock of the machine (QueryPerformanceCounter
    // on Windows, CLOCK_MONOTONIC on Linux), from an unspecified origin, the
    // same for every thread. ReadSamples gives each instant's time on it, and
    // VexaRecording.AddMarkerAt takes a time on it.
    //
    // Unity keeps a clock of its own (Time.realtimeSinceStartupAsDouble);
    // ToUnityTime and FromUnityTime convert between the two by reading both
    // back to back: the host clock, Unity's, the host clock again, taking
    // Unity's reading as made midway. The conversion errs by at most half the
    // spacing of the two host readings, a few microseconds (it grows only if
    // the thread is pre-empted between them), plus the resolution of Unity's
    // clock. Pass Unity's clock as a delegate so that this assembly does not
    // need UnityEngine:
    //
    //     double shown = VexaClock.FromUnityTime(frameTime, () => Time.realtimeSinceStartupAsDouble);
    //     VexaRecording.AddMarkerAt("stimulus", shown);
    public static class VexaClock
    {
        // Seconds on the host clock, now. Any thread.
        public static double Now
        {
            get { return VexaNative.VexaExtGetHostTime(); }
        }

        // The reading of unityNow that hostTime corresponds to.
        public static double ToUnityTime(double hostTime, Func<double> unityNow)
        {
            return hostTime + UnityMinusHost(unityNow);
        }

        // The host time that unityTime, a reading of unityNow, corresponds to.
        public static double FromUnityTime(double unityTime, Func<double> unityNow)
        {
            return unityTime - UnityMinusHost(unityNow);
        }

        // How far Unity's clock is ahead of the host's, from one paired
        // reading.
        private static double UnityMinusHost(Func<double> unityNow)
        {
            if (unityNow == null) throw new ArgumentNullException("unityNow");
            double before = Now;
            double unity = unityNow();
            double after = Now;
            return unity - (before + after) / 2;
        }
    }
}
