using System;

namespace Vexa
{
    // The waits between reconnection attempts: the first delay, then twice
    // the previous one, never more than the maximum (1, 2, 4, ... 30 s by
    // default). Reset after a connection that worked.
    public sealed class VexaReconnectBackoff
    {
        public const int DefaultFirstDelayMs = 1000;
        public const int DefaultMaxDelayMs = 30000;

        private readonly int firstDelayMs;
        private readonly int maxDelayMs;
        private int nextDelayMs;

        public VexaReconnectBackoff(int firstDelayMs = DefaultFirstDelayMs, int maxDelayMs = DefaultMaxDelayMs)
        {
            if (firstDelayMs < 1) throw new ArgumentOutOfRangeException("firstDelayMs", "The first delay must be at least 1 ms.");
            if (maxDelayMs < firstDelayMs)
            {
                throw new ArgumentOutOfRangeException("maxDelayMs", "The maximum delay must not be below the first.");
            }
            this.firstDelayMs = firstDelayMs;
            this.maxDelayMs = maxDelayMs;
            nextDelayMs = firstDelayMs;
        }

        // The wait before the next attempt; each call doubles the one after.
        public int NextDelayMs()
        {
            int delay = nextDelayMs;
            // Compared before doubling, so a large maximum cannot overflow.
            nextDelayMs = delay > maxDelayMs / 2 ? maxDelayMs : delay * 2;
            return delay;
        }

        public void Reset()
        {
            nextDelayMs = firstDelayMs;
        }
    }
}
