// The serial and TCP links. The serial cable is wine-run.sh's pty pair.
#include "link/win/serial_win.h"

#include <dbt.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "link/win/client_win.h"
#include "link/win/library_win.h"
#include "core/win/handover_win.h"
#include "core/win/message_window_win.h"
#include "win_test_util.h"

namespace tarvik::win {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint32_t kGeneration = 7;
constexpr DWORD kLimitMs = 20000;

UniqueFile Open(const std::wstring& path, DWORD flags = FILE_FLAG_OVERLAPPED) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, flags, nullptr));
}

Bytes Pattern(std::size_t size, Bytes bytes = {}) {  // period 251 (prime): a byte lost or moved shows
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(std::uint8_t(i % 251));
  return bytes;
}

// The reader's end, read in slices that end 20 ms after a burst.
struct HostEnd {
  HostEnd() {
    wchar_t exe[MAX_PATH];
    const std::wstring path(exe, GetModuleFileNameW(nullptr, exe, MAX_PATH));
    file = Open(path.substr(0, path.rfind(L'\\')) + L"\\wine-tests\\ttyHost", 0);
    COMMTIMEOUTS timeouts{20, 0, 200, 0, 0};
    ok = file && SetCommTimeouts(file.get(), &timeouts);
  }
  // Reads until `count` bytes came (0: until a slice stays quiet) or the limit.
  Bytes Read(std::size_t count, bool pump = false) {
    Bytes got;
    std::uint8_t buffer[4096];
    DWORD n = 1;
    for (ULONGLONG end = GetTickCount64() + kLimitMs; GetTickCount64() < end && (count ? got.size() < count : n);) {
      if (!ReadFile(file.get(), buffer, sizeof(buffer), &n, nullptr)) break;
      got.insert(got.end(), buffer, buffer + n);
      if (pump) testing::PumpUntil([] { return true; });
    }
    return got;
  }
  UniqueFile file;
  bool ok = false;
};

struct Sink {  // the client's window as the link sees it
  Sink() : hwnd(CreateMessageWindow(L"TarvikSerialTestSink", &Proc, this, L"the test's window")) {}
  static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    auto* self = reinterpret_cast<Sink*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == kSerialLostMsg) self->lost.push_back(static_cast<DWORD>(lp));
    if (msg == kSerialDataMsg) {
      const Bytes chunk = TakeParcel<Bytes>(lp);
      self->data.insert(self->data.end(), chunk.begin(), chunk.end());
      self->otherGeneration += wp != kGeneration;
    }
    return msg == kSerialDataMsg || msg == kSerialLostMsg ? 0 : DefWindowProcW(hwnd, msg, wp, lp);
  }
  UniqueHwnd hwnd;
  Bytes data;
  int otherGeneration = 0;
  std::vector<DWORD> lost;  // the errors of the losses told
};

// What a worker posts and nobody takes is freed: with the window that was to
// take it, or at once where the window is gone.
TEST(Handover, ParcelsNobodyTookAreFreedWithTheWindow) {
  const auto token = std::make_shared<int>(0);
  HWND gone = nullptr;
  {
    UniqueHwnd window = CreateMessageWindow(L"TarvikParcelTest", &DefWindowProcW, nullptr, L"a test");
    gone = window.get();
    std::thread([&] {
      for (UINT msg : {kFirstParcelMsg, kLastParcelMsg}) EXPECT_TRUE(PostParcel(gone, msg, 0, token));
    }).join();
    EXPECT_EQ(token.use_count(), 3);
  }
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_FALSE(PostParcel(gone, kFirstParcelMsg, 0, token));
  EXPECT_EQ(token.use_count(), 1);
}

TEST(SerialPort, ConfigureSetsTheLineWhateverWasLeftThere) {
  struct Case { DWORD baud; FlowControl flow; bool cts, xonxoff; };
  for (const Case& c : {Case{115200, FlowControl::kNone, false, false},
                        Case{19200, FlowControl::kRtsCts, true, false},
                        Case{57600, FlowControl::kXonXoff, false, true}}) {
    SCOPED_TRACE(c.baud);
    UniqueFile port = Open(L"\\\\.\\COM9");
    ASSERT_TRUE(port) << GetLastError();
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    COMMTIMEOUTS timeouts;
    const auto line = [&] {
      EXPECT_TRUE(GetCommState(port.get(), &dcb) && GetCommTimeouts(port.get(), &timeouts));
      return std::tuple(dcb.BaudRate, int(dcb.StopBits), !!dcb.fOutxCtsFlow, !!dcb.fOutX, !!dcb.fInX,
                        int(dcb.XonChar), int(dcb.XoffChar), timeouts.ReadIntervalTimeout,
                        timeouts.ReadTotalTimeoutConstant, timeouts.WriteTotalTimeoutConstant);
    };
    line();  // then spoilt as another program might leave it (Wine keeps no parity nor modem lines)
    dcb.BaudRate = 4800, dcb.StopBits = TWOSTOPBITS, dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb.fOutxCtsFlow = dcb.fOutX = dcb.fInX = TRUE, dcb.XonChar = 'a', dcb.XoffChar = 'b';
    timeouts = {MAXDWORD, MAXDWORD, 1000, 1, 2000};
    ASSERT_TRUE(SetCommState(port.get(), &dcb) && SetCommTimeouts(port.get(), &timeouts));
    ASSERT_EQ(line(), std::tuple(4800ul, TWOSTOPBITS, true, true, true, 'a', 'b', MAXDWORD, 1000ul, 2000ul))
        << "the spoilt state does not show: the checks below would prove nothing";
    ASSERT_EQ(ConfigurePort(port.get(), {9, c.baud, c.flow}), 0u);
    // Reads end 20 ms after a burst (what works under Wine), no other timeout.
    EXPECT_EQ(line(), std::tuple(c.baud, ONESTOPBIT, c.cts, c.xonxoff, c.xonxoff, 0x11, 0x13, 20ul, 0ul, 0ul));
  }
}

// A link on COM9, with what earlier tests left in the pair drained.
struct SerialLinkOnCable : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(host.ok) << "opening the host end failed";
    host.Read(0);
    UniqueFile port = Open(L"\\\\.\\COM9");
    ASSERT_TRUE(port) << GetLastError();
    ASSERT_EQ(ConfigurePort(port.get(), {9, 115200, FlowControl::kNone}), 0u);
    PurgeComm(raw = port.get(), PURGE_RXCLEAR);
    link = std::make_unique<SerialLink>(port.release(), sink.hwnd.get(), kGeneration);
  }
  void ExpectUp(DWORD forMs = 0) {
    EXPECT_FALSE(testing::PumpUntil([&] { return !sink.lost.empty(); }, forMs)) << "lost: " << sink.lost.front();
  }
  HostEnd host;
  Sink sink;
  HANDLE raw = nullptr;
  std::unique_ptr<SerialLink> link;
};

// More than the pair holds, in pieces of many sizes; Wine then times out the pending read.
TEST_F(SerialLinkOnCable, WritesArriveInOrderWithoutHoldingUpTheCaller) {
  const Bytes payload = Pattern(256 * 1024);
  const ULONGLONG start = GetTickCount64();
  for (std::size_t offset = 0, n = 1; offset < payload.size(); offset += n, n = n % 997 + 1) {
    n = std::min(n, payload.size() - offset);
    ASSERT_EQ(link->Write(std::span(payload).subspan(offset, n)), 0);
  }
  EXPECT_LT(GetTickCount64() - start, 1000u);
  EXPECT_TRUE(host.Read(payload.size(), true) == payload) << "bytes lost, altered or moved";
  ExpectUp(300);
}

TEST_F(SerialLinkOnCable, StopsPromptlyWhileAWriteIsHeldUp) {
  ASSERT_EQ(link->Write(Pattern(1024 * 1024)), 0);  // far more than the pair holds
  ASSERT_FALSE(host.Read(1).empty());                // the write has begun, and stays held
  // Stopped on a thread: a link that never stops fails the test, not hangs it.
  const ULONGLONG start = GetTickCount64();
  auto stop = [](void* held) -> DWORD { return delete static_cast<SerialLink*>(held), 0; };
  UniqueHandle stopper(CreateThread(nullptr, 0, stop, link.release(), 0, nullptr));
  ASSERT_EQ(WaitForSingleObject(stopper.get(), kLimitMs), WAIT_OBJECT_0) << "the link did not stop";
  EXPECT_LT(GetTickCount64() - start, 2000u);
  ExpectUp();
}

// Some drivers abort reads on a line error even when told not to.
TEST_F(SerialLinkOnCable, BytesFromTheReaderArriveInOrderEvenAfterAbortedReads) {
  // Wine's CancelIoEx does not tell whether a read was pending; over 300 ms many are.
  for (const ULONGLONG end = GetTickCount64() + 300; GetTickCount64() < end; Sleep(1))
    CancelIoEx(raw, nullptr);
  const Bytes sent = Pattern(3 * 3000);
  for (DWORD i = 0, n; i < 3; ++i)
    ASSERT_TRUE(WriteFile(host.file.get(), &sent[i * 3000], 3000, &n, nullptr) && n == 3000);
  ASSERT_TRUE(testing::PumpUntil(
      [&] { return sink.data.size() >= sent.size() || !sink.lost.empty(); }, kLimitMs))
      << sink.data.size() << " of " << sent.size() << " bytes came";
  EXPECT_TRUE(sink.data == sent) << "bytes altered or out of order";
  EXPECT_EQ(sink.otherGeneration, 0);
  ExpectUp();
}

// A pipe stands for a port that is gone but whose read stays pending.
UniqueFile PipeServer(UniqueFile& client) {
  const std::wstring name = L"\\\\.\\pipe\\tarvik-test-" + std::to_wstring(GetCurrentProcessId());
  UniqueFile server(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                     PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr));
  client = Open(name, 0);
  EXPECT_TRUE(server && client) << GetLastError();
  return server;
}

// An empty file's read fails at once; a pipe's never ends, and the probe finds it gone.
TEST(SerialLink, AFailedOrNeverEndingReadIsALostLink) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ASSERT_TRUE(GetTempPathW(MAX_PATH, folder) && GetTempFileNameW(folder, L"tvk", 0, name));
  UniqueFile client;
  struct Case { UniqueFile port; DWORD error; ULONGLONG notBeforeMs; };  // error 0: any but 0
  Case cases[] = {{Open(name, FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE), ERROR_HANDLE_EOF, 0},
                   {PipeServer(client), 0, 500}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.notBeforeMs ? "pipe" : "empty file");
    Sink sink;
    const ULONGLONG start = GetTickCount64();
    SerialLink link(c.port.release(), sink.hwnd.get(), kGeneration);
    ASSERT_TRUE(testing::PumpUntil([&] { return !sink.lost.empty(); }, kLimitMs));
    EXPECT_GE(GetTickCount64() - start, c.notBeforeMs);  // half the probe's period
    const DWORD error = sink.lost.front();
    EXPECT_TRUE(c.error ? error == c.error : error != 0) << error;
    EXPECT_EQ(DWORD(link.Write(Pattern(1))), error);
    EXPECT_EQ(sink.lost.size(), 1u);
  }
}

// Wine never sends these WM_DEVICECHANGE notices.
TEST(SerialLink, KnowsTheRemovalNoticesOfItsOwnPort) {
  UniqueFile other, own = PipeServer(other);
  Sink sink;
  SerialLink link(own.get(), sink.hwnd.get(), kGeneration);
  const auto removal = [&](WPARAM event, const UniqueFile& h, DWORD type = DBT_DEVTYP_HANDLE) {
    DEV_BROADCAST_HANDLE n{};
    n.dbch_size = sizeof(n), n.dbch_devicetype = type, n.dbch_handle = h.get();
    return link.IsRemovalNotice(event, type ? LPARAM(&n) : 0);
  };
  EXPECT_TRUE(removal(DBT_DEVICEQUERYREMOVE, own) && removal(DBT_DEVICEREMOVEPENDING, own) &&
              removal(DBT_DEVICEREMOVECOMPLETE, own));
  EXPECT_FALSE(removal(DBT_DEVICEQUERYREMOVEFAILED, own) || removal(DBT_DEVICEARRIVAL, own) ||
               removal(DBT_DEVNODES_CHANGED, own, 0));
  EXPECT_FALSE(removal(DBT_DEVICEREMOVECOMPLETE, other) || removal(DBT_DEVICEREMOVECOMPLETE, own, DBT_DEVTYP_PORT));
  own.release();  // the link's
}

// A listening socket on 127.0.0.1 only, with a small receive buffer.
UniqueSocket Listener(std::uint16_t& port) {
  WSADATA data;  // started before any link
  WSAStartup(MAKEWORD(2, 2), &data);
  UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  const int buffer = 2048;
  setsockopt(s.get(), SOL_SOCKET, SO_RCVBUF, (const char*)&buffer, sizeof(buffer));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof(a);
  bind(s.get(), reinterpret_cast<sockaddr*>(&a), length);
  listen(s.get(), 1);
  getsockname(s.get(), reinterpret_cast<sockaddr*>(&a), &length);
  port = ntohs(a.sin_port);
  return s;
}

// Accepts after a pause, and takes what it is sent a little at a time.
struct SlowReader {
  SlowReader() : listener(Listener(port)), thread([this] {
    Sleep(500);
    UniqueSocket c(accept(listener.get(), nullptr, nullptr));
    ++accepted;
    char buffer[512];
    for (int n; c && (n = recv(c.get(), buffer, sizeof(buffer), 0)) > 0; Sleep(2))
      received.append(buffer, size_t(n)), count = received.size();
  }) {}
  ~SlowReader() { listener.reset(), thread.join(), WSACleanup(); }
  std::uint16_t port = 0;
  std::atomic<size_t> accepted{0}, count{0};
  std::string received;  // read only after count says it is complete
  UniqueSocket listener;
  std::thread thread;
};

struct Link {
  explicit Link(std::vector<const char*> numeric = {}) : client([numeric](auto& name, auto port, auto& out) {
    for (const char* n : numeric) ResolveHost(n, port, out);  // any name: these addresses, in order
    return numeric.empty() ? ResolveHost(name, port, out) : 0;
  }) {
    library.Open();
    client.OnConnect = [this](std::int32_t e) { connected = e == 0 ? 1 : -1, error = e; };
    client.OnDisconnect = [this] { ++disconnects; };
  }
  bool Open(const std::string& address, std::uint16_t port) {
    client.Parameters.address = "(tcp://" + address + ":" + std::to_string(port) + ")";
    return (error = client.Connect()) == 0 &&
           testing::PumpUntil([this] { return connected != 0; }, 30000) && connected == 1;
  }
  Win32LibraryManager library;
  Win32Client client;
  int connected = 0, error = 0, disconnects = 0;
};

// One address may not answer, and the reader listens on IPv4 only; the open
// link keeps alive. Then the socket says "would block", and the bytes wait.
TEST(TcpLink, EveryAddressOfANameIsTriedInOrderAndNoWrittenByteIsLostToASlowReader) {
  SlowReader reader;
  Link link({"192.0.2.1", "::1", "127.0.0.1"});
  ASSERT_TRUE(link.Open("reader.example", reader.port)) << link.error;
  EXPECT_TRUE(testing::PumpUntil([&] { return reader.accepted == 1u; }, 5000));
  BOOL on = FALSE;  // keep-alive: a reader gone without a close is noticed
  int length = sizeof(on);
  EXPECT_TRUE(!getsockopt(link.client.Socket(), SOL_SOCKET, SO_KEEPALIVE, (char*)&on, &length) && on);
  const int sendBuffer = 2048;  // small, so the socket is full soon
  setsockopt(link.client.Socket(), SOL_SOCKET, SO_SNDBUF, (const char*)&sendBuffer, sizeof(sendBuffer));
  const Bytes sent = Pattern(256 * 1024);
  size_t mostWaiting = 0;
  // A kilobyte a millisecond: four times what the reader takes, however loaded the machine.
  const size_t piece = 1024;
  for (size_t offset = 0; offset < sent.size(); testing::PumpUntil([] { return false; }, 1)) {
    if (link.client.Waiting() < WriteQueue::kMaxWaiting / 2) {
      ASSERT_EQ(link.client.Write(std::span(sent).subspan(offset, piece)), 0);
      offset += piece;
    }
    mostWaiting = std::max(mostWaiting, link.client.Waiting());
  }
  ASSERT_TRUE(testing::PumpUntil([&] { return reader.count == sent.size(); }, 60000)) << reader.count;
  EXPECT_TRUE(Bytes(reader.received.begin(), reader.received.end()) == sent);
  EXPECT_GT(mostWaiting, 0u) << "the socket never said it was full: nothing was tested";
  EXPECT_EQ(link.disconnects, 0);
}

}  // namespace
}  // namespace tarvik::win
