using System;

namespace Vexa
{
    // Recording from a game: the library writes the running acquisition of
    // the interface's current device (VexaDevice) to a file on a thread of
    // its own (BDF+ for ".bdf", CSV text for ".csv"), with the game's events
    // as markers at the current sample instant. A VexaSession records with
    // its own StartRecording; VexaSession.AddMarkerToAll marks this
    // recording and every session's at once.
    //
    //     VexaDevice.StartMask(1000, 0x3, 16);
    //     VexaRecording.DescribeChannel(0, "EMG left", "uV", -1000, 1000);  // optional
    //     VexaRecording.Describe("S07", "pilot run");                         // optional
    //     VexaRecording.Start("session.bdf");   // from the next sample instant
    //     VexaRecording.Marker("level 2");      // any thread
    //     VexaRecording.Stop();                 // completes the file
    //
    // A disconnect, VexaDevice.Stop, a new start or a disconnect of the device
    // also completes the file; the next Stop then reports how that went. A
    // file that cannot be written (a full disk) queues one RecordingFailed
    // event as soon as the loop notices; the recording then takes nothing
    // more, and Stop throws with the cause.
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
            if (VexaNative.VexaExtStartRecording(VexaText.ToUtf8(path)) != 0)
            {
                throw Failure("The recording could not start.");
            }
        }

        // Describes the channel at position (0 for the first sample of a
        // frame) for the next Start, which uses up every description given
        // since the last one. label (16 characters at most; null or "" keeps
        // "Port P Ch C") and unit (8 at most; null or "" for none) are
        // printable ASCII; physicalMin and physicalMax are the physical values
        // of the ends of the digital range, both 0 for the digital values
        // themselves. Throws VexaException (FailureCode, the reason as Detail)
        // for a position outside 0 to 511, other texts, or a range that is not
        // finite or empty; Start throws for a position beyond its channels.
        public static void DescribeChannel(int position, string label, string unit, double physicalMin,
                                           double physicalMax)
        {
            if (VexaNative.VexaExtDescribeRecordingChannel(position, VexaText.ToUtf8(label), VexaText.ToUtf8(unit),
                                                           physicalMin, physicalMax) != 0)
            {
                throw Failure("The channel description was refused.");
            }
        }

        // Who was recorded and a note about the recording, for the next Start:
        // printable ASCII, 80 characters at most each, null or "" for none.
        // Throws VexaException for other texts.
        public static void Describe(string subject, string note)
        {
            if (VexaNative.VexaExtDescribeRecording(VexaText.ToUtf8(subject), VexaText.ToUtf8(note)) != 0)
            {
                throw Failure("The recording's description was refused.");
            }
        }

        // Completes the file. Throws VexaException when nothing was recording
        // or the file could not be written.
        public static void Stop()
        {
            if (VexaNative.VexaExtStopRecording() != 0) throw Failure("The recording could not be finished.");
        }

        // Marks an instant with text (UTF-8 in the file): from the raw-data
        // handler that handler's instant, from any other thread the one the
        // device sampled nearest the moment of the call. Any thread; false
        // when nothing is recording, the recording stopped taking instants,
        // or too many markers wait for the file.
        public static bool Marker(string text)
        {
            if (text == null) throw new ArgumentNullException("text");
            return VexaNative.VexaExtAddMarker(VexaText.ToUtf8(text)) == 0;
        }

        // Marks the instant the device sampled nearest hostTime (seconds of
        // VexaClock.Now), for an event timed earlier or later, such as a
        // frame's presentation; an instant not yet delivered is waited for.
        // Any thread; false as Marker, and for a hostTime that is not finite.
        public static bool AddMarkerAt(string text, double hostTime)
        {
            if (text == null) throw new ArgumentNullException("text");
            return VexaNative.VexaExtAddMarkerAt(VexaText.ToUtf8(text), hostTime) == 0;
        }

        // The detail belongs to the calling thread: read it before anything
        // else can fail on it.
        private static VexaException Failure(string message)
        {
            string detail = VexaText.FromUtf8(VexaNative.VexaExtGetLastErrorDetail());
            return new VexaException(FailureCode, detail.Length > 0 ? message + " " + detail : message, detail);
        }
    }
}
