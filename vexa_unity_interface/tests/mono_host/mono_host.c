// A Unity-like host for the package's runtime assembly: embeds the Mono
// runtime, keeps the native plug-in loaded for its whole life (as the Unity
// editor keeps native plug-ins for the editor session), and cycles child
// domains around script-like scenarios (Scripts.cs) the way the editor
// reloads scripts: create a domain, load Vexa.dll and the scripts, run one,
// unload the domain, then let the library log and run its loop again (a
// pointer into the gone domain crashes here). It also plays two sessions in
// one kept domain (Enter Play Mode with domain reload off). Threads and file
// descriptors must come back to their count before the cycles.
//
// This is the closest to the Unity editor these machines get: Unity itself
// does not run here, and its own domain handling may differ in details.
//
// Usage: vexa-mono-host PLUGIN ASSEMBLY_DIR
//   PLUGIN        path of libvexa_unity_interface.so
//   ASSEMBLY_DIR  folder holding Vexa.dll and Scripts.dll
#define _GNU_SOURCE  // pthread_tryjoin_np
#include <dirent.h>
#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <mono/jit/jit.h>
#include <mono/metadata/appdomain.h>
#include <mono/metadata/assembly.h>
#include <mono/metadata/mono-config.h>
#include <mono/metadata/object.h>

#include "vexa_unity_interface.h"

enum { kCycles = 20, kDeadlineMs = 5000 };

static const char* assembly_dir;
static void* plugin;

static void fail(const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs("mono host: FAIL: ", stderr);
  vfprintf(stderr, format, args);
  fputc('\n', stderr);
  va_end(args);
  exit(1);
}

static void on_alarm(int signal_number) {
  (void)signal_number;
  static const char kText[] = "mono host: FAIL: hung (a domain unload or the library did not return)\n";
  (void)!write(STDERR_FILENO, kText, sizeof kText - 1);
  _exit(1);
}

static void* plugin_symbol(const char* name) {
  void* symbol = dlsym(plugin, name);
  if (symbol == NULL) fail("the plug-in lacks %s", name);
  return symbol;
}
#define PLUGIN(name) ((__typeof__(&name))plugin_symbol(#name))

static long now_ms(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

static int count_entries(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == NULL) fail("cannot list %s", folder);
  int count = 0;
  for (struct dirent* entry; (entry = readdir(dir)) != NULL;) count += entry->d_name[0] != '.';
  closedir(dir);
  return count;
}

// Threads and descriptors end asynchronously after the call that ends them:
// waits (with a deadline) for both to come back to the counts before.
static void expect_nothing_left(const char* after, int threads, int fds) {
  long deadline = now_ms() + kDeadlineMs;
  int threads_now, fds_now;
  while ((threads_now = count_entries("/proc/self/task")) > threads ||
         (fds_now = count_entries("/proc/self/fd") - 1) > fds) {
    if (now_ms() > deadline) {
      fail("after %s: %d threads (before: %d), %d descriptors (before: %d)", after, threads_now, threads,
           count_entries("/proc/self/fd") - 1, fds);
    }
    usleep(1000);
  }
}

static MonoDomain* enter_new_domain(const char* name, MonoImage** scripts) {
  MonoDomain* domain = mono_domain_create_appdomain((char*)name, NULL);
  if (domain == NULL || !mono_domain_set(domain, 0)) fail("cannot enter a new domain");
  char path[4096];
  snprintf(path, sizeof path, "%s/Vexa.dll", assembly_dir);
  if (mono_domain_assembly_open(domain, path) == NULL) fail("cannot load %s", path);
  snprintf(path, sizeof path, "%s/Scripts.dll", assembly_dir);
  MonoAssembly* assembly = mono_domain_assembly_open(domain, path);
  if (assembly == NULL) fail("cannot load %s", path);
  *scripts = mono_assembly_get_image(assembly);
  return domain;
}

static void leave_and_unload(MonoDomain* domain) {
  mono_domain_set(mono_get_root_domain(), 0);
  mono_domain_unload(domain);
}

// Runs Scripts.<name>(argument) (no argument when negative); fails on what
// it returns or throws.
static void run_script(MonoImage* scripts, const char* name, int argument) {
  MonoClass* klass = mono_class_from_name(scripts, "", "Scripts");
  MonoMethod* method = klass ? mono_class_get_method_from_name(klass, name, argument < 0 ? 0 : 1) : NULL;
  if (method == NULL) fail("Scripts.%s is missing", name);
  void* arguments[] = {&argument};
  MonoObject* thrown = NULL;
  MonoObject* result = mono_runtime_invoke(method, NULL, argument < 0 ? NULL : arguments, &thrown);
  MonoString* text = thrown ? mono_object_to_string(thrown, NULL) : (MonoString*)result;
  char* utf8 = mono_string_to_utf8(text);
  if (thrown != NULL || utf8[0] != '\0') fail("Scripts.%s(%d): %s", name, argument, utf8);
  mono_free(utf8);
}

static void* run_loop(void* unused) {
  (void)unused;
  PLUGIN(StartLoop)();
  return NULL;
}

// What the library does after the domain went: a failing connect logs a
// line and calls the exception handler; a short acquisition runs the loop,
// which calls the raw-data and event handlers. Every slot must be empty, and
// the device the script left running disconnected.
static void exercise_library(void) {
  if (PLUGIN(GetNbrChannels)() != 0) fail("the unloaded script's device still acquires");
  PLUGIN(VexaDevUnity)("COM/dev/vexa-no-such-port");
  PLUGIN(VexaDevUnity)("SIM:quillbox");
  PLUGIN(VexaExtEnableSampleRing)(0);
  PLUGIN(StartAcquisitionByNbr)(1000, 0x3, 16);
  pthread_t loop;
  if (pthread_create(&loop, NULL, run_loop, NULL) != 0) fail("cannot start the loop thread");
  int ticks[16], samples[32], read = 0;
  long deadline = now_ms() + kDeadlineMs;
  while (read < 50 && now_ms() < deadline) {
    int n = PLUGIN(VexaExtReadSamples)(ticks, 16, samples, 32);
    if (n > 0) read += n;
  }
  // The loop drops an interrupt that comes while it is busy: repeat until
  // it has returned.
  while (pthread_tryjoin_np(loop, NULL) != 0) {
    PLUGIN(InterruptAcquisition)();
    usleep(1000);
  }
  PLUGIN(StopAcquisition)();
  PLUGIN(DisconnectVexaDevUnity)();
  PLUGIN(VexaExtDisableSampleRing)();
  if (read < 50) fail("the library's own loop gave %d instants", read);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s PLUGIN ASSEMBLY_DIR\n", argv[0]);
    return 2;
  }
  assembly_dir = argv[2];
  signal(SIGALRM, on_alarm);
  alarm(60);
  // The editor loads a native plug-in once and keeps it.
  plugin = dlopen(argv[1], RTLD_NOW);
  if (plugin == NULL) fail("cannot load %s: %s", argv[1], dlerror());
  mono_config_parse(NULL);
  mono_dllmap_insert(NULL, "vexa_unity_interface", NULL, argv[1], NULL);
  mono_jit_init_version("vexa-mono-host", "v4.0.30319");

  // A domain that only loads and unloads leaves what Mono keeps for good
  // (its own threads, mapped images) before the counting starts.
  MonoImage* scripts;
  leave_and_unload(enter_new_domain("warm-up", &scripts));
  int threads = count_entries("/proc/self/task");
  int fds = count_entries("/proc/self/fd") - 1;

  static const struct { const char* script; int argument; } kScenarios[] = {
      {"LogOnly", -1}, {"Careless", 1}, {"Careless", 0}, {"SessionLeftOpen", -1}};
  enum { kScenarioCount = sizeof kScenarios / sizeof kScenarios[0] };
  for (int cycle = 0; cycle < kCycles; cycle++) {
    const char* script = kScenarios[cycle % kScenarioCount].script;
    int argument = kScenarios[cycle % kScenarioCount].argument;
    MonoDomain* domain = enter_new_domain("scripts", &scripts);
    run_script(scripts, script, argument);
    leave_and_unload(domain);
    fprintf(stderr, "mono host: cycle %d: %s(%d) ran, its domain unloaded; the library logs and loops\n", cycle,
            script, argument);
    exercise_library();
    expect_nothing_left(script, threads, fds);
  }

  MonoDomain* kept = enter_new_domain("reload off", &scripts);
  run_script(scripts, "PlaySession", 2);
  run_script(scripts, "PlaySession", 3);
  leave_and_unload(kept);
  exercise_library();
  expect_nothing_left("two Play sessions in one domain", threads, fds);
  fprintf(stderr, "mono host: %d domain cycles and two Play sessions in one domain passed\n", kCycles);
  return 0;
}
