using System;
using AOT;

namespace Vexa
{
    // The library's debug log and version. The handler may run on any of the
    // library's threads (the loop's, a scan's): hand work to the main thread
    // yourself.
    public static class VexaLog
    {
        public const int Off = 0, Error = 1, Warning = 2, Info = 3, Debug = 4;

        // Kept in a static field so that the collector never frees what the
        // library calls.
        private static readonly LogHandler NativeHandler = OnLog;
        private static volatile Action<int, string> target;

        // Sends messages from Error up to maxLevel to handler; null turns the
        // log off.
        public static void SetHandler(Action<int, string> handler, int maxLevel)
        {
            target = handler;
            VexaCallbacks.SetLogHandler(handler != null ? NativeHandler : null, handler != null ? maxLevel : Off);
        }

        // "major.minor.patch" of the loaded library.
        public static string Version
        {
            get { return VexaText.FromUtf8(VexaNative.VexaExtGetVersion()); }
        }

        [MonoPInvokeCallback(typeof(LogHandler))]
        private static void OnLog(int level, IntPtr message)
        {
            // A managed exception must never unwind through the library.
            try
            {
                Action<int, string> handler = target;
                if (handler != null) handler(level, VexaText.FromUtf8(message));
            }
            catch (Exception)
            {
            }
        }
    }
}
