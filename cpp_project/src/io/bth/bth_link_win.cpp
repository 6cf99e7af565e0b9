// RFCOMM sockets of the Windows Bluetooth socket provider. While a connect
// runs, a callback registered for that one device answers its PIN request
// with the PIN of the attempt.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2bth.h>
#include <bluetoothapis.h>

#include <algorithm>
#include <cstring>

#include "io/bth/bth_platform.h"
#include "io/os_error.h"
#include "vexa/exceptions.h"

namespace Vexa {
namespace bth {
namespace {

constexpr ULONG kChannel = 1;
constexpr int kReceiveBuffer = 131072;

// One reference to the socket library, released with the object.
class SocketLibrary {
 public:
  SocketLibrary() {
    WSADATA data;
    const int error = WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) {
      VEXA_THROW_DETAIL(Notification::InitializingPort, "WSAStartup: " + windowsErrorText(error));
    }
  }
  ~SocketLibrary() { WSACleanup(); }
  SocketLibrary(const SocketLibrary&) = delete;
  SocketLibrary& operator=(const SocketLibrary&) = delete;
};

// Answers the device's authentication request: the PIN for legacy pairing,
// acceptance for numeric comparison, a bare positive answer otherwise.
BOOL CALLBACK answerAuthentication(LPVOID context, PBLUETOOTH_AUTHENTICATION_CALLBACK_PARAMS request) {
  const auto& pin = *static_cast<const std::string*>(context);
  BLUETOOTH_AUTHENTICATE_RESPONSE response{};
  response.bthAddressRemote = request->deviceInfo.Address;
  response.authMethod = request->authenticationMethod;
  response.negativeResponse = 0;
  if (request->authenticationMethod == BLUETOOTH_AUTHENTICATION_METHOD_LEGACY) {
    const size_t length = std::min<size_t>(pin.size(), BTH_MAX_PIN_SIZE);
    std::memcpy(response.pinInfo.pin, pin.data(), length);
    response.pinInfo.pinLength = static_cast<UCHAR>(length);
  } else if (request->authenticationMethod == BLUETOOTH_AUTHENTICATION_METHOD_NUMERIC_COMPARISON) {
    response.numericCompInfo.NumericValue = request->Numeric_Value;
  }
  BluetoothSendAuthenticationResponseEx(nullptr, &response);
  return FALSE;
}

// The callback's registration for one device, for the length of a connect.
class AuthenticationHandler {
 public:
  AuthenticationHandler(uint64_t address, const std::string* pin) {
    BLUETOOTH_DEVICE_INFO device{};
    device.dwSize = sizeof device;
    device.Address.ullLong = address;
    const DWORD error = BluetoothRegisterForAuthenticationEx(&device, &handle_, answerAuthentication,
                                                             const_cast<std::string*>(pin));
    if (error != ERROR_SUCCESS) {
      VEXA_THROW_DETAIL(Notification::InitializingPort, "BluetoothRegisterForAuthenticationEx: " + windowsErrorText(error));
    }
  }
  ~AuthenticationHandler() { BluetoothUnregisterAuthentication(handle_); }
  AuthenticationHandler(const AuthenticationHandler&) = delete;
  AuthenticationHandler& operator=(const AuthenticationHandler&) = delete;

 private:
  HBLUETOOTH_AUTHENTICATION_REGISTRATION handle_ = nullptr;
};

ConnectResult resultOf(int error) {
  switch (error) {
    case WSAENETDOWN:
      return ConnectResult::kAdapterDown;
    case WSAENETUNREACH:  // what the stack reports when the PIN was refused
      return ConnectResult::kPinRejected;
    case WSAETIMEDOUT:
      return ConnectResult::kNoAnswer;
    default:
      return ConnectResult::kFailed;
  }
}

class WindowsLink : public Link {
 public:
  explicit WindowsLink(uint64_t address) : address_(address) {
    socket_ = ::socket(AF_BTH, SOCK_STREAM, BTHPROTO_RFCOMM);
    if (socket_ == INVALID_SOCKET) {
      VEXA_THROW_DETAIL(Notification::InitializingPort, "socket: " + windowsErrorText(WSAGetLastError()));
    }
    // A hint only: a larger buffer rides out pauses of the reading thread.
    setsockopt(socket_, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&kReceiveBuffer),
               sizeof kReceiveBuffer);
  }
  ~WindowsLink() override {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }

  ConnectResult connect(const std::string& pin) override {
    pin_ = pin;  // read by the callback only while connect runs
    AuthenticationHandler handler(address_, &pin_);
    SOCKADDR_BTH to{};
    to.addressFamily = AF_BTH;
    to.btAddr = address_;
    to.port = kChannel;
    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
      return ConnectResult::kConnected;
    }
    const int error = WSAGetLastError();
    remember("connect", error);
    return resultOf(error);
  }

  WaitResult waitReadable(int timeoutMs) override {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit);
    if (ready == SOCKET_ERROR) {
      remember("select", WSAGetLastError());
      return WaitResult::kFailed;
    }
    return ready == 0 ? WaitResult::kTimedOut : WaitResult::kReadable;
  }

  int receive(uint8_t* buf, int len) override {
    const int n = ::recv(socket_, reinterpret_cast<char*>(buf), len, 0);
    if (n == 0) lastError_ = "the device closed the link";
    return n == SOCKET_ERROR ? remember("recv", WSAGetLastError()) : n;
  }

  int transmit(const uint8_t* buf, int len) override {
    const int n = ::send(socket_, reinterpret_cast<const char*>(buf), len, 0);
    return n == SOCKET_ERROR ? remember("send", WSAGetLastError()) : n;
  }

  std::string lastError() const override { return lastError_; }

 private:
  int remember(const char* call, int error) {
    lastError_ = std::string(call) + ": " + windowsErrorText(static_cast<unsigned long>(error));
    return -1;
  }

  SocketLibrary library_;  // first in, last out: the socket needs it
  SOCKET socket_ = INVALID_SOCKET;
  uint64_t address_;
  std::string pin_;
  std::string lastError_;
};

}  // namespace

std::unique_ptr<Link> openLink(uint64_t address) { return std::make_unique<WindowsLink>(address); }

}  // namespace bth
}  // namespace Vexa
