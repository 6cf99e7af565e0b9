using UnityEngine;

namespace Vexa.Samples.LiveSignal
{
    // One LineRenderer per channel, drawing the most recent values of each
    // from a ring, each channel scaled to its own band. Allocates only when
    // the channel count changes; every line shares one material, made once
    // and destroyed by Dispose.
    public sealed class SignalTraces
    {
        private readonly Transform parent;
        private readonly int length;
        private readonly float width;
        private readonly float bandHeight;
        private readonly float lineWidth;

        private LineRenderer[] lines = new LineRenderer[0];
        private Material material;
        private float[] values = new float[0];  // channel-major rings
        private Vector3[] points;
        private int channels;
        private int next;
        private int filled;

        public SignalTraces(Transform parent, int length, float width, float bandHeight, float lineWidth)
        {
            this.parent = parent;
            this.length = Mathf.Max(2, length);
            this.width = width;
            this.bandHeight = bandHeight;
            this.lineWidth = lineWidth;
            points = new Vector3[this.length];
        }

        public int Channels
        {
            get { return channels; }
        }

        // Appends `count` instants of `channelCount` samples (instant-major).
        public void Push(int[] samples, int count, int channelCount)
        {
            if (channelCount != channels) Rebuild(channelCount);
            for (int i = 0; i < count; i++)
            {
                for (int ch = 0; ch < channels; ch++) values[ch * length + next] = samples[i * channels + ch];
                next = (next + 1) % length;
                if (filled < length) filled++;
            }
        }

        // Moves each line's points to the ring's values, oldest on the left.
        public void Draw()
        {
            for (int ch = 0; ch < channels; ch++)
            {
                int start = ch * length;
                float min = float.MaxValue, max = float.MinValue;
                for (int i = 0; i < filled; i++)
                {
                    float v = values[start + i];
                    if (v < min) min = v;
                    if (v > max) max = v;
                }
                float scale = max > min ? bandHeight * 0.9f / (max - min) : 0;
                // Bands stacked around the parent's origin, channel 1 on top.
                float baseline = ((channels - 1) * 0.5f - ch - 0.45f) * bandHeight;
                int oldest = filled < length ? 0 : next;
                for (int i = 0; i < filled; i++)
                {
                    float v = values[start + (oldest + i) % length];
                    points[i] = new Vector3(width * ((float)i / (length - 1) - 0.5f), baseline + (v - min) * scale, 0);
                }
                lines[ch].positionCount = filled;
                lines[ch].SetPositions(points);
            }
        }

        // Forgets the values (after a reconnect the signal starts anew).
        public void Clear()
        {
            next = 0;
            filled = 0;
        }

        // Destroys the lines and their material (a material is an asset:
        // nothing frees it with the scene).
        public void Dispose()
        {
            Rebuild(0);
            if (material != null) Object.Destroy(material);
            material = null;
        }

        private void Rebuild(int channelCount)
        {
            foreach (LineRenderer line in lines) Object.Destroy(line.gameObject);
            channels = Mathf.Max(0, channelCount);
            lines = new LineRenderer[channels];
            values = new float[channels * length];
            Clear();
            if (material == null && channels > 0) material = new Material(Shader.Find("Sprites/Default"));
            for (int ch = 0; ch < channels; ch++)
            {
                GameObject child = new GameObject("Channel " + (ch + 1));
                child.transform.SetParent(parent, false);
                LineRenderer line = child.AddComponent<LineRenderer>();
                line.useWorldSpace = false;
                line.material = material;
                line.startWidth = line.endWidth = lineWidth;
                line.startColor = line.endColor = Color.HSVToRGB((float)ch / Mathf.Max(1, channels), 0.7f, 1);
                line.positionCount = 0;
                lines[ch] = line;
            }
        }
    }
}
