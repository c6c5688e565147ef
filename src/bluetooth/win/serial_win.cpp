#include "bluetooth/win/serial_win.h"

#include <string>

namespace tarvik::win {

void OpenSerialPortAsync(HWND notify, std::uint32_t generation, int port, std::uint32_t baud) {
  std::thread([notify, generation, port, baud] {
    auto* result = new SerialOpenResult;
    const std::wstring path = L"\\\\.\\COM" + std::to_wstring(port);
    UniqueFile h(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr));
    if (!h) {
      result->error = GetLastError();
    } else {
      DCB dcb{};
      dcb.DCBlength = sizeof(dcb);
      COMMTIMEOUTS timeouts{};
      // An overlapped read ends 20 ms after the last byte of a burst. The
      // common "return at once" setting (MAXDWORD, MAXDWORD, n) makes an
      // overlapped read never complete under Wine.
      timeouts.ReadIntervalTimeout = 20;
      timeouts.WriteTotalTimeoutConstant = 2000;
      if (!GetCommState(h.get(), &dcb)) {
        result->error = GetLastError();
      } else {
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = dcb.fInX = FALSE;
        if (!SetCommState(h.get(), &dcb) || !SetCommTimeouts(h.get(), &timeouts))
          result->error = GetLastError();
      }
      if (!result->error) result->port = h.release();
    }
    if (!PostMessageW(notify, kSerialOpenedMsg, generation, reinterpret_cast<LPARAM>(result))) {
      // The window is gone: nobody will take the port.
      if (result->port != INVALID_HANDLE_VALUE) CloseHandle(result->port);
      delete result;
    }
  }).detach();
}

SerialLink::SerialLink(HANDLE port, HWND notify, std::uint32_t generation)
    : port_(port), stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  reader_ = std::thread([this, notify, generation] { ReadLoop(notify, generation); });
}

SerialLink::~SerialLink() {
  if (stop_) SetEvent(stop_.get());
  if (reader_.joinable()) reader_.join();
}

void SerialLink::ReadLoop(HWND notify, std::uint32_t generation) {
  UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  std::vector<std::uint8_t> buffer(4096);
  for (;;) {
    OVERLAPPED ov{};
    ov.hEvent = done.get();
    ResetEvent(done.get());
    DWORD n = 0;
    DWORD error = 0;
    if (!ReadFile(port_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), nullptr, &ov)) {
      error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        PostMessageW(notify, kSerialLostMsg, generation, error);
        return;
      }
    }
    HANDLE waits[2] = {done.get(), stop_.get()};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
      CancelIoEx(port_.get(), &ov);
      GetOverlappedResult(port_.get(), &ov, &n, TRUE);
      return;  // asked to stop: the owner knows
    }
    if (!GetOverlappedResult(port_.get(), &ov, &n, FALSE)) {
      // Any failure of a read that had started is a port gone or failed.
      PostMessageW(notify, kSerialLostMsg, generation, GetLastError());
      return;
    }
    if (n == 0) continue;
    auto* chunk = new std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + n);
    if (!PostMessageW(notify, kSerialDataMsg, generation, reinterpret_cast<LPARAM>(chunk))) {
      delete chunk;
      return;
    }
  }
}

std::int32_t SerialLink::Write(std::span<const std::uint8_t> bytes) {
  UniqueHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  OVERLAPPED ov{};
  ov.hEvent = done.get();
  DWORD n = 0;
  if (!WriteFile(port_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &ov)) {
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) return static_cast<std::int32_t>(error);
  }
  // The write timeout set at open bounds this wait.
  if (!GetOverlappedResult(port_.get(), &ov, &n, TRUE)) return static_cast<std::int32_t>(GetLastError());
  return n == bytes.size() ? 0 : static_cast<std::int32_t>(ERROR_WRITE_FAULT);
}

}  // namespace tarvik::win
