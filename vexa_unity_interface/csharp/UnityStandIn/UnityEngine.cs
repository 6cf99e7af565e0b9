// Stand-in, not Unity: the few UnityEngine types that the package's
// component and sample use, with Unity's names and signatures, so that Mono
// can check that they compile. The tests drive the component through it:
// UnityEvents call their listeners and a warning goes to standard error;
// everything else does nothing.
using System;

namespace UnityEngine
{
    public class Object
    {
        public string name { get; set; }

        public static void Destroy(Object obj)
        {
        }
    }

    public class Component : Object
    {
        public GameObject gameObject { get { return null; } }
        public Transform transform { get { return null; } }

        public T GetComponent<T>()
        {
            return default(T);
        }
    }

    public class Behaviour : Component
    {
        public bool enabled { get; set; }
    }

    public class MonoBehaviour : Behaviour
    {
    }

    public class Transform : Component
    {
        public Vector3 localPosition { get; set; }

        public void SetParent(Transform parent, bool worldPositionStays)
        {
        }
    }

    public sealed class GameObject : Object
    {
        public GameObject(string name)
        {
        }

        public Transform transform { get { return null; } }

        public void SetActive(bool value)
        {
        }

        public T AddComponent<T>() where T : Component
        {
            return null;
        }
    }

    public class Renderer : Component
    {
        public Material material { get; set; }
    }

    public sealed class LineRenderer : Renderer
    {
        public int positionCount { get; set; }
        public float startWidth { get; set; }
        public float endWidth { get; set; }
        public Color startColor { get; set; }
        public Color endColor { get; set; }
        public bool useWorldSpace { get; set; }

        public void SetPositions(Vector3[] positions)
        {
        }
    }

    public class Shader : Object
    {
        public static Shader Find(string name)
        {
            return null;
        }
    }

    public class Material : Object
    {
        public Material(Shader shader)
        {
        }
    }

    public struct Vector3
    {
        public float x, y, z;

        public Vector3(float x, float y, float z)
        {
            this.x = x;
            this.y = y;
            this.z = z;
        }
    }

    public struct Color
    {
        public float r, g, b, a;

        public Color(float r, float g, float b, float a = 1)
        {
            this.r = r;
            this.g = g;
            this.b = b;
            this.a = a;
        }

        public static Color HSVToRGB(float h, float s, float v)
        {
            return new Color(h, s, v);
        }
    }

    public struct Rect
    {
        public Rect(float x, float y, float width, float height)
        {
        }
    }

    public static class Mathf
    {
        public static int Max(int a, int b)
        {
            return a > b ? a : b;
        }

        public static float Max(float a, float b)
        {
            return a > b ? a : b;
        }
    }

    public static class GUI
    {
        public static void Label(Rect position, string text)
        {
        }
    }

    public enum KeyCode
    {
        Space = 32,
        R = 114,
    }

    public static class Input
    {
        public static bool GetKeyDown(KeyCode key)
        {
            return false;
        }
    }

    public static class Screen
    {
        public static int width { get { return 0; } }
        public static int height { get { return 0; } }
    }

    public static class Debug
    {
        public static void Log(object message, Object context = null)
        {
        }

        public static void LogWarning(object message, Object context = null)
        {
            Console.Error.WriteLine("warning: " + message);
        }

        public static void LogError(object message, Object context = null)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class SerializeField : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class TooltipAttribute : Attribute
    {
        public TooltipAttribute(string tooltip)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Field, AllowMultiple = true)]
    public sealed class HeaderAttribute : Attribute
    {
        public HeaderAttribute(string header)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Field)]
    public sealed class RangeAttribute : Attribute
    {
        public RangeAttribute(float min, float max)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class AddComponentMenu : Attribute
    {
        public AddComponentMenu(string menuName)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class DisallowMultipleComponent : Attribute
    {
    }

    [AttributeUsage(AttributeTargets.Class, AllowMultiple = true)]
    public sealed class RequireComponent : Attribute
    {
        public RequireComponent(Type type)
        {
        }
    }

    [AttributeUsage(AttributeTargets.Class)]
    public sealed class DefaultExecutionOrder : Attribute
    {
        public DefaultExecutionOrder(int order)
        {
        }
    }
}

namespace UnityEngine.Events
{
    public abstract class UnityEventBase
    {
    }

    public class UnityEvent<T0> : UnityEventBase
    {
        private Action<T0> calls;

        public void AddListener(Action<T0> call)
        {
            calls += call;
        }

        public void RemoveListener(Action<T0> call)
        {
            calls -= call;
        }

        public void Invoke(T0 arg0)
        {
            if (calls != null) calls(arg0);
        }
    }

    public class UnityEvent<T0, T1> : UnityEventBase
    {
        private Action<T0, T1> calls;

        public void AddListener(Action<T0, T1> call)
        {
            calls += call;
        }

        public void RemoveListener(Action<T0, T1> call)
        {
            calls -= call;
        }

        public void Invoke(T0 arg0, T1 arg1)
        {
            if (calls != null) calls(arg0, arg1);
        }
    }

    public class UnityEvent<T0, T1, T2> : UnityEventBase
    {
        private Action<T0, T1, T2> calls;

        public void AddListener(Action<T0, T1, T2> call)
        {
            calls += call;
        }

        public void RemoveListener(Action<T0, T1, T2> call)
        {
            calls -= call;
        }

        public void Invoke(T0 arg0, T1 arg1, T2 arg2)
        {
            if (calls != null) calls(arg0, arg1, arg2);
        }
    }

    public class UnityEvent<T0, T1, T2, T3> : UnityEventBase
    {
        private Action<T0, T1, T2, T3> calls;

        public void AddListener(Action<T0, T1, T2, T3> call)
        {
            calls += call;
        }

        public void RemoveListener(Action<T0, T1, T2, T3> call)
        {
            calls -= call;
        }

        public void Invoke(T0 arg0, T1 arg1, T2 arg2, T3 arg3)
        {
            if (calls != null) calls(arg0, arg1, arg2, arg3);
        }
    }
}

namespace AOT
{
    // Unity ships this attribute in UnityEngine; the binding's own copy is
    // left out when UNITY_5_3_OR_NEWER is defined.
    [AttributeUsage(AttributeTargets.Method)]
    public sealed class MonoPInvokeCallbackAttribute : Attribute
    {
        public MonoPInvokeCallbackAttribute(Type type)
        {
            Type = type;
        }

        public Type Type { get; private set; }
    }
}
