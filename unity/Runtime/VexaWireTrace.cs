using System;

namespace Vexa
{
    // The wire trace: every byte the current device's link carries (the
    // device protocol, whatever the link), timed and directed, written by the
    // library to a text file while the device is used, for finding faults.
    // The file's first lines name the format, the link, the device family,
    // the library's version and the start time; then one line per chunk:
    // seconds since the start, "out" or "in", the bytes in hexadecimal.
    //
    //     VexaDevice.Connect("COM4");
    //     VexaWireTrace.Start("link.trace");
    //     ...                                 // use the device
    //     VexaWireTrace.Stop();               // the file is complete
    //
    // Disconnecting the device also ends its trace. After 64 MiB of traced
    // bytes a last line says the limit was reached and nothing more is
    // traced.
    public static class VexaWireTrace
    {
        // Starts tracing the current device's link to path; the file is
        // replaced. Throws VexaException (the code of the library, the cause
        // as Detail) without a device, while a trace runs, or when the file
        // cannot be created.
        public static void Start(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            int code = VexaNative.VexaExtStartTrace(VexaText.ToUtf8(path));
            if (code != 0) throw Failure(code, "The wire trace could not start.");
        }

        // Ends the trace and closes its file. Throws VexaException when no
        // trace runs or the file could not be written in full.
        public static void Stop()
        {
            int code = VexaNative.VexaExtStopTrace();
            if (code != 0) throw Failure(code, "The wire trace could not be finished.");
        }

        // The detail belongs to the calling thread: read it before anything
        // else can fail on it.
        private static VexaException Failure(int code, string message)
        {
            string detail = VexaText.FromUtf8(VexaNative.VexaExtGetLastErrorDetail());
            return new VexaException(code, detail.Length > 0 ? message + " " + detail : message, detail);
        }
    }
}
