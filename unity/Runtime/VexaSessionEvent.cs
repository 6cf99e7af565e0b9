namespace Vexa
{
    public enum VexaSessionEventKind
    {
        // A device is connected and acquiring: Path, DeviceType, Battery.
        Connected,
        // The session ended: Reason is the device's disconnect reason, 1 when
        // nothing arrived for 2 s, or one of VexaDeviceWorker's Reason*.
        Disconnected,
        // Something failed: Code (the library's, or 0 for a failure of the
        // worker itself), Message, Detail.
        Failure,
        // A digital input changed: ClockSource, ClockValue, Input, State;
        // Tick and Time name its instant when the clock is the acquisition's
        // tick (else Tick is -1 and Time when the library took it).
        DigitalInput,
        // The recording's file could not be written; the session goes on:
        // Code 101, Message, Detail (the system's cause).
        RecordingFailed,
        // The sample ring was full and dropped instants (the oldest stay);
        // once per acquisition: Code 100, Message. SamplesLost counts them.
        SampleRingOverflow,
    }

    // What a VexaDeviceWorker reports to the thread that drains it.
    public struct VexaSessionEvent
    {
        public VexaSessionEventKind Kind;
        public string Path;
        public string DeviceType;
        public int Battery;
        public int Reason;
        public int Code;
        public string Message;
        public string Detail;
        public int ClockSource;
        public int ClockValue;
        public int Input;
        public bool State;
        public long Tick;
        public double Time;

        public override string ToString()
        {
            switch (Kind)
            {
                case VexaSessionEventKind.Connected:
                    return "Connected(" + Path + ", " + DeviceType + ", battery " + Battery + ")";
                case VexaSessionEventKind.Disconnected:
                    return "Disconnected(reason " + Reason + ")";
                case VexaSessionEventKind.RecordingFailed:
                    return "RecordingFailed(" + Message + ")";
                case VexaSessionEventKind.SampleRingOverflow:
                    return "SampleRingOverflow(" + Code + ")";
                case VexaSessionEventKind.Failure:
                    return "Failure(" + Code + ", " + Message + (string.IsNullOrEmpty(Detail) ? "" : ", " + Detail) + ")";
                default:
                    return "DigitalInput(" + ClockSource + ", " + ClockValue + ", " + Input + ", " + State + ")";
            }
        }
    }
}
