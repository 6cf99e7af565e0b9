namespace Vexa
{
    public enum VexaEventKind
    {
        // The device reported a disconnect, or nothing arrived for 2 s
        // (Reason 1); the loop has ended.
        Disconnect,
        // A digital input changed: ClockSource, ClockValue, Input, State.
        DigitalInput,
        // The library reported a failure outside a call that could throw it,
        // typically one that ended the loop: Code, Message, Detail.
        Failure,
        // A device path announced outside a scan: Path.
        DeviceFound,
        // The sample ring was full and dropped sample instants (the oldest
        // stay; VexaDevice.SampleRingOverflow counts the dropped ones).
        // Queued once per acquisition: Code 100, Message.
        SampleRingOverflow,
        // The recording's file could not be written (a full disk): the
        // recording takes nothing more and VexaRecording.Stop throws. Queued
        // once per recording: Code 101, Message, Detail (the system's cause).
        RecordingFailed,
    }

    // A device event or a failure, copied out of the library's callback.
    public struct VexaEvent
    {
        public VexaEventKind Kind;
        public int Reason;
        public int ClockSource;
        public int ClockValue;
        public int Input;
        public bool State;
        public int Code;
        public string Message;
        public string Detail;
        public string Path;

        public override string ToString()
        {
            switch (Kind)
            {
                case VexaEventKind.Disconnect:
                    return "Disconnect(reason " + Reason + ")";
                case VexaEventKind.DigitalInput:
                    return "DigitalInput(" + ClockSource + ", " + ClockValue + ", " + Input + ", " + State + ")";
                case VexaEventKind.Failure:
                    return "Failure(" + Code + ", " + Message + ")";
                case VexaEventKind.SampleRingOverflow:
                    return "SampleRingOverflow(" + Message + ")";
                case VexaEventKind.RecordingFailed:
                    return "RecordingFailed(" + Message + ")";
                default:
                    return "DeviceFound(" + Path + ")";
            }
        }
    }
}
