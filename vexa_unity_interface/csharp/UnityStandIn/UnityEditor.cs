// Compile-only stand-in, not Unity: the UnityEditor type that the package's
// component uses inside #if UNITY_EDITOR. Nothing here runs.
namespace UnityEditor
{
    public static class AssemblyReloadEvents
    {
        public delegate void AssemblyReloadCallback();

#pragma warning disable 67 // never raised: nothing here runs
        public static event AssemblyReloadCallback beforeAssemblyReload;
        public static event AssemblyReloadCallback afterAssemblyReload;
#pragma warning restore 67
    }
}
