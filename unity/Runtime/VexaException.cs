using System;

namespace Vexa
{
    // A failure the library reported for the call in progress: its numeric
    // code (which export failed and how), the library's own text, and the
    // cause as the system gave it.
    public sealed class VexaException : Exception
    {
        public VexaException(int code, string message, string detail = "") : base(message)
        {
            Code = code;
            Detail = detail ?? "";
        }

        public int Code { get; private set; }

        // What the system said ("open /dev/ttyUSB0: Permission denied
        // (errno 13)..."), or "" when it said nothing more.
        public string Detail { get; private set; }

        public override string ToString()
        {
            string text = "VexaException " + Code + ": " + Message;
            return Detail.Length > 0 ? text + " (" + Detail + ")" : text;
        }
    }
}
