using System;
using System.Runtime.InteropServices;
using System.Text;

namespace Vexa
{
    // Recording from a game: the library writes the running acquisition to a
    // file on a thread of its own (BDF+ for ".bdf", CSV text for ".csv"),
    // with the game's events as markers at the current sample instant.
    //
    //     VexaDevice.StartMask(1000, 0x3, 16);
    //     VexaRecording.Start("session.bdf");   // from the next sample instant
    //     VexaRecording.Marker("level 2");      // any thread
    //     VexaRecording.Stop();                 // completes the file
    //
    // A disconnect, VexaDevice.Stop, a new start or a disconnect of the device
    // also completes the file; the next Stop then reports how that went.
    public static class VexaRecording
    {
        // The code of the VexaExceptions thrown here.
        public const int FailureCode = -1;

        // Starts recording the running acquisition; the file is replaced.
        // Throws VexaException (FailureCode, the cause as Detail) without an
        // acquisition, while a recording runs, for an extension other than
        // .bdf or .csv, or when the file cannot be created.
        public static void Start(string path)
        {
            if (path == null) throw new ArgumentNullException("path");
            if (VexaNative.VexaExtStartRecording(path) != 0) throw Failure("The recording could not start.");
        }

        // Completes the file. Throws VexaException when nothing was recording
        // or the file could not be written.
        public static void Stop()
        {
            if (VexaNative.VexaExtStopRecording() != 0) throw Failure("The recording could not be finished.");
        }

        // Marks the current sample instant with text (UTF-8 in the file). Any
        // thread; false when nothing is recording.
        public static bool Marker(string text)
        {
            if (text == null) throw new ArgumentNullException("text");
            byte[] utf8 = new byte[Encoding.UTF8.GetByteCount(text) + 1];  // NUL-terminated
            Encoding.UTF8.GetBytes(text, 0, text.Length, utf8, 0);
            return VexaNative.VexaExtAddMarker(utf8) == 0;
        }

        // The detail belongs to the calling thread: read it before anything
        // else can fail on it.
        private static VexaException Failure(string message)
        {
            string detail = Marshal.PtrToStringAnsi(VexaNative.VexaExtGetLastErrorDetail()) ?? "";
            return new VexaException(FailureCode, detail.Length > 0 ? message + " " + detail : message, detail);
        }
    }
}
