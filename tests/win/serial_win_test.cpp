// The serial link on the bench's cable: a pseudo-terminal pair whose one end
// is the prefix's COM9 and whose other end (wine-tests/ttyHost beside the test
// program) a test opens through Wine's Z: drive; tests/win/wine-run.sh makes
// both. Bytes earlier tests left in the pair are drained first.
#include "bluetooth/win/serial_win.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/win/message_window_win.h"
#include "win_test_util.h"

namespace tarvik::win {
namespace {

constexpr wchar_t kWineEnd[] = L"\\\\.\\COM9";
constexpr int kWinePort = 9;
constexpr std::uint32_t kGeneration = 7;
// Generous: nothing here should take more than a fraction of it.
constexpr DWORD kLimitMs = 20000;
// The host end's reads: they end this long after a burst, or after
// kHostReadSliceMs when nothing comes.
constexpr DWORD kHostIntervalMs = 20;
constexpr DWORD kHostReadSliceMs = 200;
constexpr DWORD kHostChunkBytes = 4096;
// What ConfigurePort must leave: reads that end 20 ms after a burst (the
// setting that works under Wine), no other timeout.
constexpr DWORD kReadIntervalMs = 20;
constexpr std::uint8_t kXon = 0x11;
constexpr std::uint8_t kXoff = 0x13;
// A state another program might have left.
constexpr DWORD kSpoiltBaud = 4800;
constexpr char kSpoiltXon = 'a';
constexpr char kSpoiltXoff = 'b';
constexpr DWORD kSpoiltWriteTimeoutMs = 2000;
constexpr DWORD kSpoiltReadTimeoutMs = 1000;

std::wstring HostEndPath() {
  wchar_t exe[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring path(exe, n);
  return path.substr(0, path.rfind(L'\\')) + L"\\wine-tests\\ttyHost";
}

UniqueFile OpenWineEnd() {
  return UniqueFile(CreateFileW(kWineEnd, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
}

// COM9 opened and set up as OpenSerialPortAsync does, with nothing the
// reader side left unread.
UniqueFile OpenConfiguredWineEnd(const SerialAddress& address) {
  UniqueFile port = OpenWineEnd();
  if (port) {
    EXPECT_EQ(ConfigurePort(port.get(), address), 0u);
    PurgeComm(port.get(), PURGE_RXCLEAR);
  } else {
    ADD_FAILURE() << "Opening COM9 failed: error " << GetLastError();
  }
  return port;
}

// The reader's end of the cable, read and written plainly.
class HostEnd {
 public:
  HostEnd()
      : file_(CreateFileW(HostEndPath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_EXISTING, 0, nullptr)) {
    if (!file_) {
      error_ = GetLastError();
      return;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = kHostIntervalMs;
    timeouts.ReadTotalTimeoutConstant = kHostReadSliceMs;
    if (!SetCommTimeouts(file_.get(), &timeouts)) error_ = GetLastError();
  }
  DWORD error() const { return error_; }

  // Appends what comes within one slice; false when the read failed.
  bool ReadSome(std::vector<std::uint8_t>& into) {
    std::uint8_t buffer[kHostChunkBytes];
    DWORD n = 0;
    if (!ReadFile(file_.get(), buffer, sizeof(buffer), &n, nullptr)) return false;
    into.insert(into.end(), buffer, buffer + n);
    return true;
  }
  // Drops what earlier tests left in the pair, until a slice stays quiet.
  void Drain() {
    const ULONGLONG end = GetTickCount64() + kLimitMs;
    std::vector<std::uint8_t> left;
    do {
      left.clear();
      ASSERT_TRUE(ReadSome(left));
    } while (!left.empty() && GetTickCount64() < end);
  }
  // Reads until `count` bytes came or the limit passed; `between` runs after
  // each slice.
  std::vector<std::uint8_t> Read(std::size_t count, const std::function<void()>& between = {}) {
    std::vector<std::uint8_t> got;
    const ULONGLONG end = GetTickCount64() + kLimitMs;
    while (got.size() < count && GetTickCount64() < end) {
      if (!ReadSome(got)) break;
      if (between) between();
    }
    return got;
  }
  bool Write(const std::vector<std::uint8_t>& bytes) {
    DWORD n = 0;
    return WriteFile(file_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr) &&
           n == bytes.size();
  }

 private:
  UniqueFile file_;
  DWORD error_ = 0;
};

// The client's window as the link sees it: it takes what the link posts.
class Sink {
 public:
  Sink()
      : hwnd_(CreateMessageWindow(L"TarvikSerialTestSink", &Sink::Proc, this,
                                  L"the test's window")) {}
  ~Sink() {
    testing::PumpUntil([] { return true; });  // frees the payloads still queued
  }
  HWND hwnd() const { return hwnd_.get(); }

  std::vector<std::uint8_t> data;
  int dataMessages = 0;
  int otherGeneration = 0;
  std::vector<DWORD> lost;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Sink*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == kSerialDataMsg) {
      std::unique_ptr<std::vector<std::uint8_t>> chunk(
          reinterpret_cast<std::vector<std::uint8_t>*>(lp));
      if (self) {
        if (wp != kGeneration) ++self->otherGeneration;
        self->data.insert(self->data.end(), chunk->begin(), chunk->end());
        ++self->dataMessages;
      }
      return 0;
    }
    if (msg == kSerialLostMsg) {
      if (self) self->lost.push_back(static_cast<DWORD>(lp));
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
  }

  UniqueHwnd hwnd_;
};

// A connected pipe: its read waits until the test writes, and asking it for
// a serial port's state fails, as a port whose device is gone but whose
// driver keeps the read pending.
struct Pipe {
  Pipe() {
    const std::wstring name =
        L"\\\\.\\pipe\\tarvik-serial-test-" + std::to_wstring(GetCurrentProcessId());
    server.reset(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_BYTE | PIPE_WAIT, 1, kHostChunkBytes, kHostChunkBytes,
                                  0, nullptr));
    if (!server) ADD_FAILURE() << "Creating a pipe failed: error " << GetLastError();
    client.reset(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             0, nullptr));
    if (!client) ADD_FAILURE() << "Opening the pipe failed: error " << GetLastError();
  }
  UniqueFile server, client;
};

std::vector<std::uint8_t> Pattern(std::size_t size) {
  std::vector<std::uint8_t> bytes(size);
  // Period 251 (prime): a byte lost, doubled or moved shows.
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i % 251);
  return bytes;
}

// Leaves COM9 as another program might have: every setting ConfigurePort
// owns set otherwise, and the timeouts that break reads under Wine.
void Spoil(HANDLE port) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  ASSERT_TRUE(GetCommState(port, &dcb)) << GetLastError();
  dcb.BaudRate = kSpoiltBaud;
  dcb.fParity = TRUE;
  dcb.ByteSize = 7;
  dcb.Parity = EVENPARITY;
  dcb.StopBits = TWOSTOPBITS;
  dcb.fAbortOnError = TRUE;
  dcb.fDsrSensitivity = TRUE;
  dcb.fOutxDsrFlow = TRUE;
  dcb.fNull = TRUE;
  dcb.fErrorChar = TRUE;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  dcb.fOutxCtsFlow = TRUE;
  dcb.fOutX = TRUE;
  dcb.fInX = TRUE;
  dcb.fTXContinueOnXoff = FALSE;
  dcb.XonChar = kSpoiltXon;
  dcb.XoffChar = kSpoiltXoff;
  ASSERT_TRUE(SetCommState(port, &dcb)) << GetLastError();
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, kSpoiltReadTimeoutMs, 1, kSpoiltWriteTimeoutMs};
  ASSERT_TRUE(SetCommTimeouts(port, &timeouts)) << GetLastError();

  // What the bench can show must show the spoilt state, or the checks after
  // ConfigurePort prove nothing.
  DCB back{};
  back.DCBlength = sizeof(back);
  ASSERT_TRUE(GetCommState(port, &back)) << GetLastError();
  ASSERT_EQ(back.BaudRate, kSpoiltBaud);
  ASSERT_EQ(back.StopBits, TWOSTOPBITS);
  ASSERT_TRUE(back.fOutxCtsFlow);
  ASSERT_TRUE(back.fOutX);
  ASSERT_TRUE(back.fInX);
  ASSERT_EQ(back.XonChar, kSpoiltXon);
}

DCB ReadBack(HANDLE port) {
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  EXPECT_TRUE(GetCommState(port, &dcb)) << GetLastError();
  return dcb;
}

// What the bench can check of the line. Wine keeps the state in the pty's
// termios, so GetCommState reflects the speed, the stop bits, CRTSCTS (as
// fOutxCtsFlow; RTS_CONTROL_HANDSHAKE alone sets it too, so a handshake left
// on shows there), IXON/IXOFF (fOutX/fInX) and the XON/XOFF characters. It
// cannot show the rest: Linux forces a pty to 8 bits without parity
// (ByteSize, Parity); a pty has no modem lines, so fDtrControl and
// fRtsControl always read back as enabled; and fParity, fAbortOnError,
// fDsrSensitivity, fOutxDsrFlow, fNull, fErrorChar, fTXContinueOnXoff,
// XonLim and XoffLim are not kept at all.
TEST(SerialPort, ConfigureSetsTheLineWhateverWasLeftThere) {
  struct Case {
    DWORD baud;
    FlowControl flow;
    bool cts, outX, inX;
  };
  for (const Case& c : {Case{115200, FlowControl::kNone, false, false, false},
                        Case{19200, FlowControl::kRtsCts, true, false, false},
                        Case{57600, FlowControl::kXonXoff, false, true, true}}) {
    SCOPED_TRACE(c.baud);
    UniqueFile port = OpenWineEnd();
    ASSERT_TRUE(port) << "Opening COM9 failed: error " << GetLastError();
    ASSERT_NO_FATAL_FAILURE(Spoil(port.get()));
    ASSERT_EQ(ConfigurePort(port.get(), SerialAddress{kWinePort, c.baud, c.flow}), 0u);
    const DCB dcb = ReadBack(port.get());
    EXPECT_EQ(dcb.BaudRate, c.baud);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(!!dcb.fOutxCtsFlow, c.cts);
    EXPECT_EQ(!!dcb.fOutX, c.outX);
    EXPECT_EQ(!!dcb.fInX, c.inX);
    EXPECT_EQ(dcb.XonChar, kXon);
    EXPECT_EQ(dcb.XoffChar, kXoff);
    COMMTIMEOUTS timeouts{};
    ASSERT_TRUE(GetCommTimeouts(port.get(), &timeouts)) << GetLastError();
    EXPECT_EQ(timeouts.ReadIntervalTimeout, kReadIntervalMs);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u);
    EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 0u);  // no write timeout
  }
}

// More than the pair's buffers hold while nobody reads the host end, written
// in pieces of many sizes: the port's write is held up long before the
// last piece, yet every Write returns at once, the host end then gets
// every byte in order, and the link stays up.
TEST(SerialLink, WritesArriveCompleteAndInOrderWithoutHoldingUpTheCaller) {
  constexpr std::size_t kPayloadBytes = 256 * 1024;
  constexpr std::size_t kLargestPiece = 997;
  constexpr ULONGLONG kWritesReturnWithinMs = 1000;  // a copy into memory; far less in fact
  constexpr DWORD kStaysUpMs = 300;                  // many times the read's 20 ms interval
  HostEnd host;
  ASSERT_EQ(host.error(), 0u) << "Opening the host end failed";
  ASSERT_NO_FATAL_FAILURE(host.Drain());
  UniqueFile port = OpenConfiguredWineEnd(SerialAddress{kWinePort, 115200, FlowControl::kNone});
  ASSERT_TRUE(port);
  Sink sink;
  SerialLink link(port.release(), sink.hwnd(), kGeneration);

  const std::vector<std::uint8_t> payload = Pattern(kPayloadBytes);
  const ULONGLONG start = GetTickCount64();
  std::size_t offset = 0;
  for (std::size_t piece = 1; offset < payload.size(); piece = piece % kLargestPiece + 1) {
    const std::size_t n = std::min(piece, payload.size() - offset);
    ASSERT_EQ(link.Write(std::span(payload).subspan(offset, n)), 0);
    offset += n;
  }
  EXPECT_LT(GetTickCount64() - start, kWritesReturnWithinMs);
  const std::vector<std::uint8_t> got =
      host.Read(payload.size(), [] { testing::PumpUntil([] { return true; }); });
  EXPECT_EQ(got.size(), payload.size());
  EXPECT_TRUE(got == payload) << "the bytes came altered or out of order";
  // And the link stays up after a held-up write has gone out (Wine times
  // out the pending read then; see serial_win.cpp).
  EXPECT_FALSE(testing::PumpUntil([&] { return !sink.lost.empty(); }, kStaysUpMs))
      << "lost with error " << sink.lost.front();
}

// Stopping does not wait for a write that flow control or a slow driver
// holds up.
TEST(SerialLink, StopsPromptlyWhileAWriteIsHeldUp) {
  constexpr std::size_t kPayloadBytes = 1024 * 1024;  // far more than the pair buffers
  constexpr ULONGLONG kStopWithinMs = 2000;
  HostEnd host;  // read once only: the write stays held up
  ASSERT_EQ(host.error(), 0u) << "Opening the host end failed";
  ASSERT_NO_FATAL_FAILURE(host.Drain());
  UniqueFile port = OpenConfiguredWineEnd(SerialAddress{kWinePort, 115200, FlowControl::kNone});
  ASSERT_TRUE(port);
  Sink sink;
  auto link = std::make_unique<SerialLink>(port.release(), sink.hwnd(), kGeneration);
  ASSERT_EQ(link->Write(Pattern(kPayloadBytes)), 0);
  // Once bytes arrive, the write has begun; the pair cannot hold the rest,
  // so it stays held up.
  ASSERT_FALSE(host.Read(1).empty());

  // Stopped on a thread of its own, so that a link that never stops fails
  // the test instead of hanging it.
  auto stopping = std::make_shared<std::unique_ptr<SerialLink>>(std::move(link));
  std::promise<void> stopped;
  std::future<void> done = stopped.get_future();
  const ULONGLONG start = GetTickCount64();
  std::thread stopper([stopping, stopped = std::move(stopped)]() mutable {
    stopping->reset();
    stopped.set_value();
  });
  const bool ended =
      done.wait_for(std::chrono::milliseconds(kLimitMs)) == std::future_status::ready;
  const ULONGLONG took = GetTickCount64() - start;
  if (ended) {
    stopper.join();
  } else {
    stopper.detach();  // it holds the link; the test program ends soon
  }
  ASSERT_TRUE(ended) << "the link did not stop";
  EXPECT_LT(took, kStopWithinMs);
  EXPECT_TRUE(sink.lost.empty()) << "lost with error " << sink.lost.front();
}

// What the reader sends arrives as data messages of the link's generation,
// complete and in order.
TEST(SerialLink, BytesFromTheReaderArriveInOrder) {
  constexpr std::size_t kBurstBytes = 3000;
  constexpr int kBursts = 3;
  HostEnd host;
  ASSERT_EQ(host.error(), 0u) << "Opening the host end failed";
  ASSERT_NO_FATAL_FAILURE(host.Drain());
  UniqueFile port = OpenConfiguredWineEnd(SerialAddress{kWinePort, 115200, FlowControl::kNone});
  ASSERT_TRUE(port);
  Sink sink;
  SerialLink link(port.release(), sink.hwnd(), kGeneration);

  const std::vector<std::uint8_t> sent = Pattern(kBurstBytes * kBursts);
  for (int i = 0; i < kBursts; ++i) {
    const auto first = sent.begin() + static_cast<std::ptrdiff_t>(i * kBurstBytes);
    ASSERT_TRUE(host.Write(std::vector<std::uint8_t>(first, first + kBurstBytes)));
  }
  ASSERT_TRUE(testing::PumpUntil([&] { return sink.data.size() >= sent.size(); }, kLimitMs))
      << sink.data.size() << " of " << sent.size() << " bytes came";
  EXPECT_TRUE(sink.data == sent) << "the bytes came altered or out of order";
  EXPECT_EQ(sink.otherGeneration, 0);
  EXPECT_TRUE(sink.lost.empty()) << "lost with error " << sink.lost.front();
}

// Some drivers abort a pending read on a line error even when told not to:
// the link clears the error and reads on.
TEST(SerialLink, AReadTheDriverAbortsIsReadAgain) {
  constexpr ULONGLONG kAbortingMs = 300;
  HostEnd host;
  ASSERT_EQ(host.error(), 0u) << "Opening the host end failed";
  ASSERT_NO_FATAL_FAILURE(host.Drain());
  UniqueFile port = OpenConfiguredWineEnd(SerialAddress{kWinePort, 115200, FlowControl::kNone});
  ASSERT_TRUE(port);
  const HANDLE raw = port.get();
  Sink sink;
  SerialLink link(port.release(), sink.hwnd(), kGeneration);

  // Aborts the link's reads as such a driver would, for a while: Wine's
  // CancelIoEx does not tell whether a read was pending, but over several
  // of the link's pauses many are.
  const ULONGLONG end = GetTickCount64() + kAbortingMs;
  while (GetTickCount64() < end) {
    CancelIoEx(raw, nullptr);
    Sleep(1);  // the aborts' pace; nothing is awaited
  }
  const std::vector<std::uint8_t> sent = Pattern(100);
  ASSERT_TRUE(host.Write(sent));
  ASSERT_TRUE(testing::PumpUntil(
      [&] { return sink.data.size() >= sent.size() || !sink.lost.empty(); }, kLimitMs));
  EXPECT_TRUE(sink.lost.empty()) << "lost with error " << sink.lost.front();
  EXPECT_TRUE(sink.data == sent);
}

// Some USB-serial and Bluetooth drivers never fail the pending read when the
// device goes: the link's probe finds the port gone within a second or so.
TEST(SerialLink, APortWhoseReadNeverEndsIsFoundGoneByTheProbe) {
  constexpr ULONGLONG kNotBeforeMs = 500;  // half the probe's period: the read did not end
  Pipe pipe;
  ASSERT_TRUE(pipe.server && pipe.client);
  Sink sink;
  const ULONGLONG start = GetTickCount64();
  SerialLink link(pipe.server.release(), sink.hwnd(), kGeneration);
  ASSERT_TRUE(testing::PumpUntil([&] { return !sink.lost.empty(); }, kLimitMs));
  EXPECT_GE(GetTickCount64() - start, kNotBeforeMs);
  EXPECT_NE(sink.lost.front(), 0u);
  const std::uint8_t byte = 0;
  EXPECT_NE(link.Write(std::span(&byte, 1)), 0) << "a write after the loss must fail";
}

// A read that fails is a lost link, and writes after it fail with its error.
TEST(SerialLink, AFailedReadIsALostLink) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"tvk", 0, name), 0u);
  // Reading an empty file fails at its end.
  UniqueFile empty(CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(empty) << GetLastError();
  Sink sink;
  SerialLink link(empty.release(), sink.hwnd(), kGeneration);
  ASSERT_TRUE(testing::PumpUntil([&] { return !sink.lost.empty(); }, kLimitMs));
  EXPECT_EQ(sink.lost.front(), static_cast<DWORD>(ERROR_HANDLE_EOF));
  const std::uint8_t byte = 0;
  EXPECT_EQ(link.Write(std::span(&byte, 1)), ERROR_HANDLE_EOF);
  EXPECT_EQ(sink.lost.size(), 1u);
}

// The window is told by WM_DEVICECHANGE when the device behind a handle goes
// (Wine never sends these, so the notices are made here).
TEST(SerialLink, KnowsTheRemovalNoticesOfItsOwnPort) {
  Pipe pipe;
  ASSERT_TRUE(pipe.server && pipe.client);
  const HANDLE raw = pipe.server.get();
  Sink sink;
  SerialLink link(pipe.server.release(), sink.hwnd(), kGeneration);

  DEV_BROADCAST_HANDLE notice{};
  notice.dbch_size = sizeof(notice);
  notice.dbch_devicetype = DBT_DEVTYP_HANDLE;
  notice.dbch_handle = raw;
  const auto lp = reinterpret_cast<LPARAM>(&notice);
  EXPECT_TRUE(link.IsRemovalNotice(DBT_DEVICEQUERYREMOVE, lp));
  EXPECT_TRUE(link.IsRemovalNotice(DBT_DEVICEREMOVEPENDING, lp));
  EXPECT_TRUE(link.IsRemovalNotice(DBT_DEVICEREMOVECOMPLETE, lp));
  EXPECT_FALSE(link.IsRemovalNotice(DBT_DEVICEQUERYREMOVEFAILED, lp));
  EXPECT_FALSE(link.IsRemovalNotice(DBT_DEVICEARRIVAL, lp));
  EXPECT_FALSE(link.IsRemovalNotice(DBT_DEVNODES_CHANGED, 0));

  DEV_BROADCAST_HANDLE other = notice;
  other.dbch_handle = pipe.client.get();
  EXPECT_FALSE(link.IsRemovalNotice(DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&other)));

  DEV_BROADCAST_HDR portNotice{};
  portNotice.dbch_size = sizeof(portNotice);
  portNotice.dbch_devicetype = DBT_DEVTYP_PORT;
  EXPECT_FALSE(
      link.IsRemovalNotice(DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&portNotice)));
}

}  // namespace
}  // namespace tarvik::win
