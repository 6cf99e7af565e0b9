// Searches through the Windows Bluetooth API. Devices in range are reported
// as radio-in-range notifications to a window, so a hidden window on a
// thread of its own listens while the inquiry runs on the calling thread.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <bluetoothapis.h>
#include <bthdef.h>
#include <dbt.h>

#include <cstring>
#include <future>
#include <system_error>
#include <thread>
#include <utility>

#include "io/bth/bth_platform.h"
#include "io/bth/bth_search.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace bth {
namespace {

constexpr char kClassName[] = "VexaFindDevsWinClass";
// Posted to the window thread to end its message loop.
constexpr UINT kQuitMessage = WM_APP;
constexpr UCHAR kInquiryMultiplier = 5;  // x 1.28 s
// {EA3B5B82-26EE-450E-B0D8-D26FE30A3869}: a device came into range.
constexpr GUID kRadioInRange = {0xEA3B5B82, 0x26EE, 0x450E, {0xB0, 0xD8, 0xD2, 0x6F, 0xE3, 0x0A, 0x38, 0x69}};

// Reports one radio-in-range notification to the search state that the
// window was created with.
LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  if (message != WM_DEVICECHANGE || wParam != DBT_CUSTOMEVENT) return DefWindowProcA(window, message, wParam, lParam);
  auto* state = reinterpret_cast<SearchState*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
  if (state == nullptr || header == nullptr || header->dbch_devicetype != DBT_DEVTYP_HANDLE) return TRUE;
  auto* event = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(header);
  if (std::memcmp(&event->dbch_eventguid, &kRadioInRange, sizeof kRadioInRange) != 0) return TRUE;
  const BTH_DEVICE_INFO& device = reinterpret_cast<const BTH_RADIO_IN_RANGE*>(event->dbch_data)->deviceInfo;
  if ((device.flags & BDIF_ADDRESS) == 0) return TRUE;
  if ((device.flags & BDIF_NAME) != 0) {
    const std::string name(device.name, strnlen(device.name, BTH_MAX_NAME_SIZE));
    state->onInRange(device.address, &name);
  } else {
    state->onInRange(device.address, nullptr);
  }
  return TRUE;
}

// The hidden window and its thread, for one inquiry. The constructor
// returns once the window listens to the radio, or throws; the destructor
// ends the thread, which releases everything it made.
class Listener {
 public:
  Listener(HANDLE radio, SearchState& state) {
    std::promise<DWORD> ready;
    std::future<DWORD> threadId = ready.get_future();
    try {
      thread_ = std::thread(&Listener::run, radio, &state, std::move(ready));
    } catch (const std::system_error&) {
      VEXA_THROW(Exception);
    }
    threadId_ = threadId.get();
    if (threadId_ == 0) {
      thread_.join();
      VEXA_THROW(Exception);
    }
  }
  ~Listener() {
    // A thread message needs no window, so it always gets through.
    PostThreadMessageA(threadId_, kQuitMessage, 0, 0);
    thread_.join();
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

 private:
  // Sets ready to the thread's id once it listens, or to 0 when it cannot.
  static void run(HANDLE radio, SearchState* state, std::promise<DWORD> ready) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = windowProc;
    windowClass.lpszClassName = kClassName;
    if (RegisterClassA(&windowClass) == 0) return ready.set_value(0);
    HWND window = CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, state);
    if (window == nullptr) {
      UnregisterClassA(kClassName, nullptr);
      return ready.set_value(0);
    }
    DEV_BROADCAST_HANDLE filter{};
    filter.dbch_size = sizeof filter;
    filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
    filter.dbch_handle = radio;
    HDEVNOTIFY notification = RegisterDeviceNotificationA(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (notification == nullptr) {
      DestroyWindow(window);
      UnregisterClassA(kClassName, nullptr);
      return ready.set_value(0);
    }
    ready.set_value(GetCurrentThreadId());
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message != kQuitMessage) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    UnregisterDeviceNotification(notification);
    DestroyWindow(window);
    UnregisterClassA(kClassName, nullptr);
  }

  std::thread thread_;
  DWORD threadId_ = 0;
};

class WindowsRadio : public Radio {
 public:
  explicit WindowsRadio(HANDLE radio) : radio_(radio) {}
  ~WindowsRadio() override { CloseHandle(radio_); }

  void inquire(SearchState& state) override {
    Listener listener(radio_, state);
    BLUETOOTH_DEVICE_SEARCH_PARAMS search{};
    search.dwSize = sizeof search;
    search.fReturnAuthenticated = TRUE;
    search.fReturnRemembered = TRUE;
    search.fReturnUnknown = TRUE;
    search.fReturnConnected = TRUE;
    search.fIssueInquiry = TRUE;
    search.cTimeoutMultiplier = kInquiryMultiplier;
    search.hRadio = nullptr;  // every radio
    BLUETOOTH_DEVICE_INFO device{};
    device.dwSize = sizeof device;
    // Returns when the inquiry is over; the devices come from the listener.
    if (HBLUETOOTH_DEVICE_FIND find = BluetoothFindFirstDevice(&search, &device)) BluetoothFindDeviceClose(find);
  }

  std::optional<std::string> queryName(uint64_t address) override {
    BLUETOOTH_DEVICE_INFO device{};
    device.dwSize = sizeof device;
    device.Address.ullLong = address;
    if (BluetoothGetDeviceInfo(radio_, &device) != ERROR_SUCCESS) return std::nullopt;
    const int wide = static_cast<int>(wcsnlen(device.szName, BLUETOOTH_MAX_NAME_SIZE));
    if (wide == 0) return std::string();
    // UTF-8, like the names that come with the notifications.
    const int size = WideCharToMultiByte(CP_UTF8, 0, device.szName, wide, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return std::nullopt;
    std::string name(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, device.szName, wide, &name[0], size, nullptr, nullptr);
    return name;
  }

 private:
  HANDLE radio_;
};

}  // namespace

std::unique_ptr<Radio> openRadio() {
  BLUETOOTH_FIND_RADIO_PARAMS params{};
  params.dwSize = sizeof params;
  HANDLE radio = nullptr;
  HBLUETOOTH_RADIO_FIND find = BluetoothFindFirstRadio(&params, &radio);
  if (find == nullptr) {
    if (GetLastError() == ERROR_NO_MORE_ITEMS) VEXA_THROW(Notification::AdapterNotFound);
    VEXA_THROW(Notification::InitializingPort);
  }
  BluetoothFindRadioClose(find);
  try {
    return std::make_unique<WindowsRadio>(radio);
  } catch (...) {
    CloseHandle(radio);
    throw;
  }
}

}  // namespace bth
}  // namespace Vexa
