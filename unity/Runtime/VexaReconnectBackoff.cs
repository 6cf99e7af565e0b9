using System;

namespace Vexa
{
    // The waits between reconnection attempts: the first delay, then twice
    // the previous one, never more than the maximum (1, 2, 4, ... 30 s by
    // default). Reset after a connection that worked. The delays may change
    // at any time (from another thread too); each wait is computed from the
    // values current when it is asked for.
    public sealed class VexaReconnectBackoff
    {
        public const int DefaultFirstDelayMs = 1000;
        public const int DefaultMaxDelayMs = 30000;

        private readonly object gate = new object();
        private int firstDelayMs;
        private int maxDelayMs;
        // Waits handed out since the last reset.
        private int attempts;

        public VexaReconnectBackoff(int firstDelayMs = DefaultFirstDelayMs, int maxDelayMs = DefaultMaxDelayMs)
        {
            SetDelays(firstDelayMs, maxDelayMs);
        }

        public void SetDelays(int firstDelayMs, int maxDelayMs)
        {
            if (firstDelayMs < 1)
            {
                throw new ArgumentOutOfRangeException("firstDelayMs", "The first delay must be at least 1 ms.");
            }
            if (maxDelayMs < firstDelayMs)
            {
                throw new ArgumentOutOfRangeException("maxDelayMs", "The maximum delay must not be below the first.");
            }
            lock (gate)
            {
                this.firstDelayMs = firstDelayMs;
                this.maxDelayMs = maxDelayMs;
            }
        }

        // The wait before the next attempt; each call doubles the one after.
        public int NextDelayMs()
        {
            lock (gate)
            {
                int delay = firstDelayMs;
                // Compared before doubling, so a large maximum cannot overflow.
                for (int i = 0; i < attempts && delay < maxDelayMs; i++)
                {
                    delay = delay > maxDelayMs / 2 ? maxDelayMs : delay * 2;
                }
                if (attempts < int.MaxValue) attempts++;
                return delay;
            }
        }

        public void Reset()
        {
            lock (gate) attempts = 0;
        }
    }
}
