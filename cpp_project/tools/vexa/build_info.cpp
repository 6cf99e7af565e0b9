// The version text: the library's version, then the compiler, platform and
// date of this build, so that a report names exactly what ran.
#include <string>

#include "commands.h"
#include "vexa/version.h"

namespace vexa_cli {
namespace {

std::string compiler() {
#if defined(__clang__)
  return "clang " + std::to_string(__clang_major__) + "." + std::to_string(__clang_minor__) + "." +
         std::to_string(__clang_patchlevel__);
#elif defined(__GNUC__)
  return "GCC " + std::to_string(__GNUC__) + "." + std::to_string(__GNUC_MINOR__) + "." +
         std::to_string(__GNUC_PATCHLEVEL__);
#elif defined(_MSC_VER)
  return "MSVC " + std::to_string(_MSC_VER);
#else
  return "an unknown compiler";
#endif
}

std::string platform() {
#if defined(_WIN32)
  std::string os = "Windows";
#elif defined(__APPLE__)
  std::string os = "macOS";
#elif defined(__linux__)
  std::string os = "Linux";
#else
  std::string os = "an unknown system";
#endif
#if defined(__x86_64__) || defined(_M_X64)
  return os + " x86-64";
#elif defined(__aarch64__) || defined(_M_ARM64)
  return os + " arm64";
#elif defined(__i386__) || defined(_M_IX86)
  return os + " x86";
#else
  return os;
#endif
}

}  // namespace

std::string buildText() {
  return std::string("vexa ") + VEXA_VERSION_STRING + " (built with " + compiler() + " for " + platform() + " on " +
         __DATE__ + ")";
}

}  // namespace vexa_cli
