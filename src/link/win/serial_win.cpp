#include "link/win/serial_win.h"

#include <dbt.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/guard.h"
#include "core/win/text_win.h"

namespace tarvik::win {
namespace {

// An overlapped read ends this long after the last byte of a burst. The
// common "return at once" setting (MAXDWORD, MAXDWORD, n) makes an overlapped
// read never complete under Wine.
constexpr DWORD kReadIntervalMs = 20;
constexpr DWORD kReadChunkBytes = 4096;
// After a read that brought nothing (or that a driver aborted on a line
// error), or a write that moved nothing, the next one waits this long: a
// driver that keeps completing at once must not make the thread spin.
constexpr DWORD kRetryPauseMs = 50;
// Some USB-serial and Bluetooth virtual COM drivers never fail the pending
// read when their device goes away; asking the port for its status does.
constexpr DWORD kProbeIntervalMs = 1000;
constexpr std::uint8_t kByteSize = 8;
constexpr char kXon = 0x11;   // DC1
constexpr char kXoff = 0x13;  // DC3
// With software flow control: XOFF goes out once fewer than kXoffLimit bytes
// of the driver's input buffer are free, XON once it holds no more than
// kXonLimit. Both well inside the smallest input buffer a driver has.
constexpr WORD kXonLimit = 512;
constexpr WORD kXoffLimit = 512;

void ReportFailure(std::wstring_view attempted, DWORD error) {
  DebugLine(Narrow(DescribeFailure(attempted, error)));
}

// A failure whose code the system did not set still ends the link.
DWORD NonZero(DWORD error) { return error != 0 ? error : ERROR_GEN_FAILURE; }

// One overlapped transfer at a time in one direction.
class Transfer {
 public:
  explicit Transfer(UniqueHandle done) : done_(std::move(done)) {}
  Transfer(const Transfer&) = delete;
  Transfer& operator=(const Transfer&) = delete;
  ~Transfer() = default;  // the owner cancels first: the system may still use ov_

  HANDLE event() const { return done_.get(); }
  bool pending() const { return pending_; }
  bool done() const { return pending_ && WaitForSingleObject(done_.get(), 0) == WAIT_OBJECT_0; }

  // 0 once started, or the error of a start that failed.
  DWORD StartRead(HANDLE port, void* data, DWORD size) {
    Prepare();
    return Started(ReadFile(port, data, size, nullptr, &ov_));
  }
  DWORD StartWrite(HANDLE port, const void* data, DWORD size) {
    Prepare();
    return Started(WriteFile(port, data, size, nullptr, &ov_));
  }
  // Once done(): 0 and the bytes moved, or the transfer's error.
  DWORD Finish(HANDLE port, DWORD& bytes) {
    pending_ = false;
    bytes = 0;
    return GetOverlappedResult(port, &ov_, &bytes, FALSE) ? 0 : NonZero(GetLastError());
  }
  // Ends a pending transfer and waits until the system no longer uses it.
  void Cancel(HANDLE port) {
    if (!pending_) return;
    CancelIoEx(port, &ov_);
    DWORD bytes = 0;
    GetOverlappedResult(port, &ov_, &bytes, TRUE);
    pending_ = false;
  }

 private:
  void Prepare() {
    ResetEvent(done_.get());
    ov_ = OVERLAPPED{};
    ov_.hEvent = done_.get();
  }
  DWORD Started(BOOL ok) {
    if (!ok) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return NonZero(error);
    } else {
      SetEvent(done_.get());  // done at once: Finish collects it like a late one
    }
    pending_ = true;
    return 0;
  }

  UniqueHandle done_;
  OVERLAPPED ov_{};
  bool pending_ = false;
};

// Milliseconds from now until `at`, 0 when past.
DWORD Until(ULONGLONG at, ULONGLONG now) {
  return at > now ? static_cast<DWORD>(std::min<ULONGLONG>(at - now, kProbeIntervalMs)) : 0;
}

}  // namespace

DWORD ConfigurePort(HANDLE port, const SerialAddress& address) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (!GetCommState(port, &dcb)) return NonZero(GetLastError());
  dcb.BaudRate = address.baud;
  dcb.fBinary = TRUE;  // the only mode Windows has
  dcb.fParity = FALSE;
  dcb.ByteSize = kByteSize;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  // With this set, one framing or overrun error fails every later read
  // until the error is cleared.
  dcb.fAbortOnError = FALSE;
  // With this set, bytes that arrive while DSR is low are dropped, and many
  // readers and adapters never raise DSR.
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fNull = FALSE;       // a NUL byte is data
  dcb.fErrorChar = FALSE;  // bytes with a parity error stay as they came
  // Some readers send only while DTR and RTS are up.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  // Set even without software flow control: some drivers refuse a state
  // whose XON and XOFF characters are equal or whose limits do not fit.
  dcb.XonChar = kXon;
  dcb.XoffChar = kXoff;
  dcb.XonLim = kXonLimit;
  dcb.XoffLim = kXoffLimit;
  switch (address.flow) {
    case FlowControl::kNone:
      break;
    case FlowControl::kRtsCts:
      dcb.fOutxCtsFlow = TRUE;
      dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
      break;
    case FlowControl::kXonXoff:
      dcb.fOutX = TRUE;
      dcb.fInX = TRUE;
      break;
  }
  if (!SetCommState(port, &dcb)) return NonZero(GetLastError());

  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = kReadIntervalMs;
  // Write timeouts stay 0 (none): a write held up by flow control waits on
  // the port's own thread, never on the window.
  if (!SetCommTimeouts(port, &timeouts)) return NonZero(GetLastError());
  return 0;
}

void OpenSerialPortAsync(HWND notify, std::uint32_t generation, const SerialAddress& address) {
  std::thread([notify, generation, address] {
    RunOrStop("Opening the serial port", [&] {
      SerialOpenResult result;
      const std::wstring path = L"\\\\.\\COM" + std::to_wstring(address.port);
      UniqueFile port(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr));
      if (!port) {
        result.error = NonZero(GetLastError());
        ReportFailure(L"Opening " + path.substr(4), result.error);
      } else if (const DWORD error = ConfigurePort(port.get(), address)) {
        result.error = error;
        ReportFailure(L"Setting up " + path.substr(4), error);
      } else {
        result.port = std::move(port);
      }
      // Where the window is gone, the port is closed with the parcel.
      PostParcel(notify, kSerialOpenedMsg, generation, std::move(result));
    });
  }).detach();
}

SerialLink::SerialLink(HANDLE port, HWND notify, std::uint32_t generation) : port_(port) {
  stop_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!stop_) {
    throw std::runtime_error(
        Narrow(DescribeFailure(L"Creating the serial port's stop event", GetLastError())));
  }
  queuedEvent_.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  if (!queuedEvent_) {
    throw std::runtime_error(
        Narrow(DescribeFailure(L"Creating the serial port's write event", GetLastError())));
  }
  // Tells the window when the device behind the handle is about to go or has
  // gone (a USB adapter pulled out, a Bluetooth port removed). Without it the
  // probe below still notices, a little later.
  DEV_BROADCAST_HANDLE filter{};
  filter.dbch_size = sizeof(filter);
  filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
  filter.dbch_handle = port_.get();
  removal_.reset(RegisterDeviceNotificationW(notify, &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
  if (!removal_) {
    ReportFailure(L"Asking to be told when the serial port's device goes", GetLastError());
  }
  thread_ =
      std::thread([this, notify, generation] { RunOrStop("Watching the serial port", [&] { Run(notify, generation); }); });
}

SerialLink::~SerialLink() {
  SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
  removal_.reset();  // before the handle it watches closes
}

std::int32_t SerialLink::Write(std::span<const std::uint8_t> bytes) {
  if (const DWORD error = failure_.load()) return static_cast<std::int32_t>(error);
  if (bytes.empty()) return 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queued_.insert(queued_.end(), bytes.begin(), bytes.end());
  }
  SetEvent(queuedEvent_.get());
  return 0;
}

void SerialLink::TakeQueued(std::vector<std::uint8_t>& out) {
  out.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  std::swap(out, queued_);
}

bool SerialLink::IsRemovalNotice(WPARAM wp, LPARAM lp) const {
  if (wp != DBT_DEVICEQUERYREMOVE && wp != DBT_DEVICEREMOVEPENDING &&
      wp != DBT_DEVICEREMOVECOMPLETE)
    return false;
  const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lp);
  if (!header || header->dbch_devicetype != DBT_DEVTYP_HANDLE ||
      header->dbch_size < offsetof(DEV_BROADCAST_HANDLE, dbch_eventguid))
    return false;
  const auto* notice = reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lp);
  return notice->dbch_handle == port_.get() ||
         (removal_ && notice->dbch_hdevnotify == removal_.get());
}

void SerialLink::Fail(HWND notify, std::uint32_t generation, DWORD error,
                      const wchar_t* attempted) {
  error = NonZero(error);
  failure_.store(error);
  ReportFailure(attempted, error);
  // When the post fails the window is gone, and nobody waits for the news.
  PostMessageW(notify, kSerialLostMsg, generation, static_cast<LPARAM>(error));
}

void SerialLink::Run(HWND notify, std::uint32_t generation) {
  const HANDLE port = port_.get();
  UniqueHandle readDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!readDone)
    return Fail(notify, generation, GetLastError(), L"Creating the serial read's event");
  UniqueHandle writeDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!writeDone)
    return Fail(notify, generation, GetLastError(), L"Creating the serial write's event");
  Transfer read(std::move(readDone));
  Transfer write(std::move(writeDone));

  std::vector<std::uint8_t> incoming(kReadChunkBytes);
  std::vector<std::uint8_t> outgoing;  // the bytes being written; queued_ takes new ones meanwhile
  std::size_t written = 0;
  ULONGLONG readAt = 0, writeAt = 0;  // no read or write before (after one that moved nothing)
  ULONGLONG probeAt = GetTickCount64() + kProbeIntervalMs;
  DWORD error = 0;
  const wchar_t* attempted = nullptr;
  // Line errors are cleared after every read: some drivers hold back the
  // next read until they are. The same call probes the port now and then:
  // it fails once the device has gone. (GetCommModemStatus would not do: it
  // fails on ports without modem lines, Wine's ptys among them.) False, with
  // `error` set, when the port is gone.
  const auto clearLineErrors = [&] {
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(port, &errors, &status)) return true;
    error = GetLastError();
    attempted = L"Asking the serial port for its state";
    return false;
  };

  for (;;) {
    ULONGLONG now = GetTickCount64();
    if (!read.pending() && now >= readAt) {
      const DWORD e = read.StartRead(port, incoming.data(), static_cast<DWORD>(incoming.size()));
      if (e == ERROR_OPERATION_ABORTED || e == ERROR_TIMEOUT) {
        // A driver that aborts reads on a line error even without
        // fAbortOnError, or Wine's timed-out read (see below), ended at
        // once: clear the errors and read again after the pause.
        if (!clearLineErrors()) break;
        readAt = now + kRetryPauseMs;
      } else if (e != 0) {
        error = e;
        attempted = L"Reading the serial port";
        break;
      }
    }
    if (!write.pending() && now >= writeAt) {
      if (written == outgoing.size()) {
        TakeQueued(outgoing);
        written = 0;
      }
      if (written < outgoing.size()) {
        const DWORD e = write.StartWrite(port, outgoing.data() + written,
                                         static_cast<DWORD>(outgoing.size() - written));
        if (e != 0) {
          error = e;
          attempted = L"Writing to the serial port";
          break;
        }
      }
    }

    HANDLE waits[4];
    DWORD count = 0;
    waits[count++] = stop_.get();
    waits[count++] = queuedEvent_.get();
    if (read.pending()) waits[count++] = read.event();
    if (write.pending()) waits[count++] = write.event();
    DWORD timeout = Until(probeAt, now);
    if (!read.pending()) timeout = std::min(timeout, Until(readAt, now));
    if (!write.pending() && written < outgoing.size())
      timeout = std::min(timeout, Until(writeAt, now));
    const DWORD woke = WaitForMultipleObjects(count, waits, FALSE, timeout);
    if (woke == WAIT_OBJECT_0) break;  // asked to stop: the owner knows
    if (woke == WAIT_FAILED) {
      error = GetLastError();
      attempted = L"Waiting for the serial port";
      break;
    }
    now = GetTickCount64();

    if (read.done()) {
      DWORD n = 0;
      const DWORD e = read.Finish(port, n);
      // Only the stop cancels our reads, and it leaves the loop first: an
      // abort here is the driver's, on a line error. Wine ends a read that
      // timed out with ERROR_TIMEOUT where Windows calls it a success, and
      // it times out a read that got nothing when a write on the same port
      // that had to wait goes out. Either may still have brought bytes; the
      // link takes them and reads on.
      if (e != 0 && e != ERROR_OPERATION_ABORTED && e != ERROR_TIMEOUT) {
        error = e;
        attempted = L"Reading the serial port";
        break;
      }
      if (n > 0) {
        if (!PostParcel(notify, kSerialDataMsg, generation,
                        std::vector<std::uint8_t>(incoming.begin(), incoming.begin() + n))) {
          error = GetLastError();
          attempted = L"Passing serial data to the window";
          break;
        }
      } else {
        readAt = now + kRetryPauseMs;
      }
      if (!clearLineErrors()) break;
    }
    if (write.done()) {
      DWORD n = 0;
      const DWORD e = write.Finish(port, n);
      if (e != 0) {
        error = e;
        attempted = L"Writing to the serial port";
        break;
      }
      written += n;  // a partial write goes on with the rest
      if (n == 0) writeAt = now + kRetryPauseMs;
    }
    if (now >= probeAt) {
      if (!clearLineErrors()) break;
      probeAt = now + kProbeIntervalMs;
    }
  }

  read.Cancel(port);
  write.Cancel(port);
  if (attempted) Fail(notify, generation, error, attempted);
}

}  // namespace tarvik::win
