#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "bluetooth/win/client_win.h"
#include "bluetooth/win/library_win.h"
#include "win_test_util.h"

namespace tarvik::win {
namespace {

// A reader on the loopback: listens on 127.0.0.1 only, accepts after a
// pause, and takes what it is sent a little at a time through a small
// receive buffer.
class SlowReader {
 public:
  static constexpr int kReceiveBuffer = 2048;
  static constexpr int kChunk = 512;
  static constexpr DWORD kAcceptAfterMs = 500, kPauseMs = 2;

  SlowReader() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);  // the reader may be made before the link
    listener_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    setsockopt(listener_.get(), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&kReceiveBuffer),
               sizeof(kReceiveBuffer));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_.get(), reinterpret_cast<sockaddr*>(&a), sizeof(a));
    listen(listener_.get(), 1);
    int length = sizeof(a);
    getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&a), &length);
    port = ntohs(a.sin_port);
    thread_ = std::thread([this] {
      Sleep(kAcceptAfterMs);
      UniqueSocket c(accept(listener_.get(), nullptr, nullptr));
      ++accepted;
      char buffer[kChunk];
      int n;
      while (c && (n = recv(c.get(), buffer, kChunk, 0)) > 0) {
        received.append(buffer, static_cast<size_t>(n));
        count = received.size();
        Sleep(kPauseMs);
      }
    });
  }
  ~SlowReader() {
    listener_.reset();
    thread_.join();
    WSACleanup();
  }
  std::uint16_t port = 0;
  std::atomic<int> accepted{0};
  std::atomic<size_t> count{0};
  std::string received;  // read only after count says it is complete

 private:
  UniqueSocket listener_;
  std::thread thread_;
};

struct Link {
  explicit Link(Resolver resolver = &ResolveHost) : client(std::move(resolver)) {
    library.Open();
    client.OnConnect = [this](std::int32_t e) { connected = e == 0 ? 1 : -1, error = e; };
    client.OnDisconnect = [this] { disconnected = true; };
  }
  bool Open(const std::string& address) {
    client.Parameters.address = "(" + address + ")";
    error = client.Connect();
    if (error != 0) return false;
    return testing::PumpUntil([this] { return connected != 0; }, 30000) && connected == 1;
  }
  Win32LibraryManager library;
  Win32Client client;
  int connected = 0;
  std::int32_t error = 0;
  bool disconnected = false;
};

// Written faster than the reader takes it: the socket says "would block",
// and the bytes wait and go in order; none is lost.
TEST(TcpLink, NoWrittenByteIsLostToASlowReader) {
  SlowReader reader;
  Link link;
  ASSERT_TRUE(link.Open("tcp://127.0.0.1:" + std::to_string(reader.port))) << link.error;
  // A small send buffer too, so the socket is full soon.
  const int sendBuffer = 2048;
  setsockopt(link.client.Socket(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&sendBuffer),
             sizeof(sendBuffer));
  constexpr size_t kTotal = 256 * 1024, kWrite = 100;
  std::string sent;
  size_t mostWaiting = 0;
  while (sent.size() < kTotal) {
    if (link.client.Waiting() < WriteQueue::kMaxWaiting / 2) {
      std::string chunk;
      for (size_t i = 0; i < kWrite; ++i) chunk += static_cast<char>('a' + (sent.size() + i) % 26);
      ASSERT_EQ(link.client.Write({reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size()}), 0);
      sent += chunk;
    }
    mostWaiting = std::max(mostWaiting, link.client.Waiting());
    testing::PumpUntil([] { return false; }, 1);
  }
  ASSERT_TRUE(testing::PumpUntil([&] { return reader.count == sent.size(); }, 60000)) << reader.count;
  EXPECT_EQ(reader.received, sent);
  EXPECT_GT(mostWaiting, 0u) << "the socket never said it was full: nothing was tested";
  EXPECT_FALSE(link.disconnected);
}

// The name resolves to addresses that fail first (one that may not answer
// at all, then IPv6 where the reader listens on IPv4 only): the attempt
// goes on to the listening one.
TEST(TcpLink, EveryAddressOfANameIsTriedInOrder) {
  SlowReader reader;
  std::vector<std::string> tried;
  Link link([&](const std::string&, std::uint16_t port, std::vector<Endpoint>& out) {
    for (const char* numeric : {"192.0.2.1", "::1", "127.0.0.1"}) {
      std::vector<Endpoint> one;
      if (ResolveHost(numeric, port, one) == 0) out.insert(out.end(), one.begin(), one.end());
    }
    return 0;
  });
  ASSERT_TRUE(link.Open("tcp://reader.example:" + std::to_string(reader.port))) << link.error;
  EXPECT_TRUE(testing::PumpUntil([&] { return reader.accepted == 1; }, 5000));
  // Keep-alive is on, so a reader that vanishes without a close is noticed.
  BOOL on = FALSE;
  int length = sizeof(on);
  getsockopt(link.client.Socket(), SOL_SOCKET, SO_KEEPALIVE, reinterpret_cast<char*>(&on), &length);
  EXPECT_TRUE(on);
}

// A name whose every address fails: one failed attempt, not one an address.
TEST(TcpLink, AnAttemptFailsOnlyWhenEveryAddressHasFailed) {
  int attempts = 0;
  Link link([](const std::string&, std::uint16_t port, std::vector<Endpoint>& out) {
    for (const char* numeric : {"::1", "127.0.0.1"}) ResolveHost(numeric, port, out);
    return 0;
  });
  link.client.OnConnect = [&](std::int32_t e) { ++attempts, link.connected = -1, link.error = e; };
  // A port nobody listens on: take one and let it go.
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(probe, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  int length = sizeof(a);
  getsockname(probe, reinterpret_cast<sockaddr*>(&a), &length);
  closesocket(probe);
  EXPECT_FALSE(link.Open("tcp://reader.example:" + std::to_string(ntohs(a.sin_port))));
  testing::PumpUntil([] { return false; }, 200);
  EXPECT_EQ(attempts, 1);
  EXPECT_NE(link.error, 0);
  EXPECT_EQ(link.client.State(), Win32Client::kIdle);
}

}  // namespace
}  // namespace tarvik::win
