// The Linux links against real sockets on this machine and a socat pty pair
// as the serial cable; Bluetooth against the adapters the machine has.
#include "link/linux/client_linux.h"

#include <QBluetoothLocalDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "link/linux/discovery_linux.h"
#include "link/linux/library_linux.h"
#include "link/linux/link_errors_linux.h"
#include "link/linux/serial_linux.h"
#include "link/linux/sockets_linux.h"

namespace tarvik::lnx {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::chrono::milliseconds kLimit{20000};
constexpr int kPollMs = 5;

// Runs the event loop until `done` or `limit`; the waits sleep in the loop.
bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = kLimit) {
  QElapsedTimer clock;
  clock.start();
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (done() || clock.elapsed() >= limit.count()) loop.quit();
  });
  poll.start(kPollMs);
  if (!done()) loop.exec();
  return done();
}

Bytes Pattern(std::size_t size) {  // period 251 (prime): a byte lost or moved shows
  Bytes bytes;
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(std::uint8_t(i % 251));
  return bytes;
}

// A client with its events recorded; `inCall` tells whether one came
// within a call into the client.
struct Link {
  explicit Link(Resolver resolver = &ResolveHost) : client(std::move(resolver)) {
    client.OnConnect = [this](std::int32_t e) { ++connects, error = e, eventInCall |= inCall; };
    client.OnData = [this](Bytes b) { data.insert(data.end(), b.begin(), b.end()); };
    client.OnDisconnect = [this] { ++disconnects, eventInCall |= inCall; };
  }
  std::int32_t Connect(const std::string& address) {
    client.Parameters.address = "(" + address + ")";
    client.Parameters.service = "{00001101-0000-1000-8000-00805F9B34FB}";
    inCall = true;
    const std::int32_t r = client.Connect();
    inCall = false;
    return r;
  }
  // Starts an attempt and waits for its outcome: true when the link is open.
  bool Open(const std::string& address) {
    const int before = connects;
    return (error = Connect(address)) == 0 && RunUntil([&] { return connects > before; }) && error == 0;
  }
  QtClient client;
  int connects = 0, disconnects = 0, error = 0;
  bool inCall = false, eventInCall = false;
  Bytes data;
};

// A network reader on 127.0.0.2 (loopback has all of 127/8); its peer's
// reads can be held back to a trickle.
struct Reader {
  Reader() {
    EXPECT_TRUE(server.listen(QHostAddress("127.0.0.2")));
    QObject::connect(&server, &QTcpServer::newConnection, [this] {
      peer = server.nextPendingConnection();
      ++accepted;
    });
  }
  std::string Address(const char* host = "127.0.0.2") const {
    return "tcp://" + std::string(host) + ":" + std::to_string(server.serverPort());
  }
  QTcpServer server;
  QTcpSocket* peer = nullptr;
  int accepted = 0;
};

// A listener whose backlog is full: a connect to it neither fails nor ends.
struct Stuck {
  explicit Stuck(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(listen(listener, 0), 0);
    EXPECT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);  // takes the one place
  }
  ~Stuck() { close(listener), close(filler); }
  int listener = socket(AF_INET, SOCK_STREAM, 0), filler = socket(AF_INET, SOCK_STREAM, 0);
};

// "localhost" resolves as the system says, with these around it.
Resolver Around(QStringList before, QStringList after) {
  return [=](const QString& host, QObject* context, std::function<void(const QHostInfo&)> done) {
    ResolveHost(host, context, [=](QHostInfo info) {
      QList<QHostAddress> all;
      for (const QString& a : before) all.append(QHostAddress(a));
      all.append(info.addresses());
      for (const QString& a : after) all.append(QHostAddress(a));
      info.setAddresses(all);
      done(info);
    });
  };
}

int Option(qintptr socket, int level, int name) {
  int value = -1;
  socklen_t length = sizeof value;
  return getsockopt(int(socket), level, name, &value, &length) == 0 ? value : -1;
}

// ::1 refuses, 127.0.0.1 never answers, 127.0.0.2 is the reader; the open
// link keeps alive. Then the reader takes a trickle while more than Qt's
// buffer and the queue hold is written.
TEST(TcpLink, EveryAddressOfANameIsTriedInOrderThenBytesGoBothWaysAndNoneIsLost) {
  Reader reader;
  Stuck stuck(reader.server.serverPort());
  Link link(Around({"::1"}, {"127.0.0.2"}));
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(link.Open(reader.Address("localhost"))) << link.error;
  EXPECT_GE(clock.elapsed(), kAddressTimeout.count() * 9 / 10);
  ASSERT_TRUE(RunUntil([&] { return reader.peer; }));
  EXPECT_EQ(std::pair(reader.accepted, link.connects), std::pair(1, 1));
  EXPECT_FALSE(link.eventInCall);
  const qintptr s = link.client.SocketDescriptor();
  EXPECT_EQ(std::tuple(Option(s, SOL_SOCKET, SO_KEEPALIVE), Option(s, IPPROTO_TCP, TCP_KEEPIDLE),
                       Option(s, IPPROTO_TCP, TCP_KEEPINTVL), Option(s, IPPROTO_TCP, TCP_KEEPCNT)),
            std::tuple(1, kKeepAliveIdleSeconds, kKeepAliveIntervalSeconds, kKeepAliveProbes));

  const Bytes in = Pattern(100 * 1024);
  reader.peer->write(reinterpret_cast<const char*>(in.data()), qint64(in.size()));
  ASSERT_TRUE(RunUntil([&] { return link.data.size() >= in.size(); }));
  EXPECT_TRUE(link.data == in);

  constexpr int kTrickle = 2048;  // a tick, and Qt reads no more than this ahead
  reader.peer->setReadBufferSize(kTrickle);
  // Small system buffers: what the reader has not taken holds the writes up.
  const int small = 8192;
  setsockopt(int(reader.peer->socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  setsockopt(int(link.client.SocketDescriptor()), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const Bytes out = Pattern(256 * 1024);
  constexpr std::size_t kPiece = 1000;
  std::size_t offset = 0, mostWaiting = 0;
  QByteArray got;
  QTimer writer, taker;
  QObject::connect(&writer, &QTimer::timeout, [&] {
    while (offset < out.size() && link.client.Waiting() < WriteQueue::kMaxWaiting * 3 / 2) {
      const std::size_t n = std::min(kPiece, out.size() - offset);
      ASSERT_EQ(link.client.Write(std::span(out).subspan(offset, n)), 0);
      offset += n;
      mostWaiting = std::max(mostWaiting, link.client.Waiting());
    }
  });
  QObject::connect(&taker, &QTimer::timeout, [&] { got += reader.peer->read(kTrickle); });
  writer.start(1), taker.start(1);
  ASSERT_TRUE(RunUntil([&] { return std::size_t(got.size()) >= out.size(); }, std::chrono::minutes(2)))
      << got.size();
  EXPECT_TRUE(Bytes(got.begin(), got.end()) == out) << "bytes lost, altered or moved";
  EXPECT_GT(mostWaiting, WriteQueue::kMaxWaiting) << "the writes were never held up: nothing was tested";
  EXPECT_EQ(link.disconnects, 0);
}

// Nothing is written while the loop does not run: Qt's buffer fills, then the queue.
TEST(TcpLink, AReaderThatTakesNothingIsADroppedLinkNotEndlessMemory) {
  Reader reader;
  Link link;
  ASSERT_TRUE(link.Open(reader.Address()));
  const Bytes piece = Pattern(1000);
  std::size_t accepted = 0;
  std::int32_t r = 0;
  while (accepted <= 4 * WriteQueue::kMaxWaiting && (r = link.client.Write(piece)) == 0) accepted += piece.size();
  EXPECT_EQ(r, wcl::kBufferOverflow);
  EXPECT_LE(accepted, 2 * WriteQueue::kMaxWaiting);
  EXPECT_TRUE(RunUntil([&] { return link.disconnects == 1; }));
  EXPECT_EQ(link.client.DropReason(), wcl::kBufferOverflow);
  EXPECT_FALSE(link.eventInCall);
}

// The reader's last words still arrive; the event comes later, never within a call.
TEST(TcpLink, ALinkClosedByTheReaderIsToldOnceFromTheEventLoop) {
  Reader reader;
  Link link;
  ASSERT_TRUE(link.Open(reader.Address()) && RunUntil([&] { return reader.peer; }));
  reader.peer->write("bye\r\n");
  reader.peer->disconnectFromHost();
  EXPECT_TRUE(RunUntil([&] { return link.disconnects > 0; }));
  RunUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(link.disconnects, 1);
  EXPECT_FALSE(link.eventInCall);
  EXPECT_EQ(link.client.DropReason(), wcl::kClosedByPeer);
  EXPECT_EQ(std::string(link.data.begin(), link.data.end()), "bye\r\n");
}

// socat's pty pair: ours for the client, theirs for the reader.
struct Cable {
  Cable() {
    socat.start("socat", {"-d", "-d", "pty,raw,echo=0,link=" + ours, "pty,raw,echo=0,link=" + theirs});
    EXPECT_TRUE(RunUntil([&] { return QFile::exists(ours) && QFile::exists(theirs); })) << "socat did not start";
  }
  ~Cable() {
    socat.kill();
    socat.waitForFinished();
  }
  QTemporaryDir dir;
  QString ours = dir.filePath("ours"), theirs = dir.filePath("theirs");
  QProcess socat;
};

TEST(SerialLink, BytesGoBothWaysInOrder) {
  Cable cable;
  Link link;
  ASSERT_TRUE(link.Open(cable.ours.toStdString() + ":115200")) << link.error;
  EXPECT_FALSE(link.eventInCall);
  QSerialPort reader(cable.theirs);
  ASSERT_TRUE(reader.open(QIODevice::ReadWrite)) << reader.errorString().toStdString();
  const Bytes sent = Pattern(64 * 1024);
  reader.write(reinterpret_cast<const char*>(sent.data()), qint64(sent.size()));
  ASSERT_EQ(link.client.Write(sent), 0);
  QByteArray got;
  QObject::connect(&reader, &QSerialPort::readyRead, [&] { got += reader.readAll(); });
  ASSERT_TRUE(RunUntil([&] { return link.data.size() >= sent.size() && std::size_t(got.size()) >= sent.size(); }))
      << link.data.size() << " and " << got.size();
  EXPECT_TRUE(link.data == sent);
  EXPECT_TRUE(Bytes(got.begin(), got.end()) == sent);
}

// A pulled adapter: the port fails (socat gone), or only its path goes.
TEST(SerialLink, APortThatGoesIsADroppedLinkAndIsNotThereToReopen) {
  struct Case { const char* what; std::int32_t reason; };
  for (const Case& c : {Case{"killed", EIO}, Case{"unlinked", ENODEV}}) {
    SCOPED_TRACE(c.what);
    Cable cable;
    Link link;
    ASSERT_TRUE(link.Open(cable.ours.toStdString()));
    if (c.reason == EIO) ::kill(pid_t(cable.socat.processId()), SIGKILL);
    else QFile::remove(cable.ours);
    EXPECT_TRUE(RunUntil([&] { return link.disconnects == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(link.client.DropReason(), c.reason);
    EXPECT_FALSE(link.eventInCall);
    QFile::remove(cable.ours);  // killed, socat leaves its link behind
    EXPECT_FALSE(link.Open(cable.ours.toStdString()));
    EXPECT_EQ(link.error, ENOENT);
  }
}

// Held against the adapters the machine has (none on most test machines):
// they are the radios; one it does not have, or a reader not in range,
// fails later, from the event loop.
TEST(Bluetooth, WithoutAnAdapterThereIsNoRadioAndWhatIsTriedFailsLater) {
  const QList<QBluetoothHostInfo> adapters = QBluetoothLocalDevice::allDevices();
  QtDiscovery discovery;
  std::vector<Radio> radios{std::make_shared<QtRadio>(QBluetoothAddress())};
  EXPECT_EQ(discovery.ListRadios(radios), 0);
  ASSERT_EQ(radios.size(), std::size_t(adapters.size()));
  for (std::size_t i = 0; i < radios.size(); ++i)
    EXPECT_EQ(static_cast<QtRadio&>(*radios[i]).address(), adapters[qsizetype(i)].address());
  EXPECT_EQ(discovery.Discover(nullptr, 15, 0), wcl::kNoRadio);
  std::string events;
  discovery.OnDiscoveryStarted = [&](const Radio&) { events += "started "; };
  discovery.OnDiscoveryComplete = [&](const Radio&, const std::optional<DeviceList>& devices) {
    events += devices ? "found" : "failed";
  };
  const QBluetoothAddress none(quint64(1));
  ASSERT_TRUE(std::none_of(adapters.begin(), adapters.end(), [&](auto& a) { return a.address() == none; }));
  ASSERT_EQ(discovery.Discover(std::make_shared<QtRadio>(none), 15, 0), 0);
  EXPECT_EQ(events, "");
  EXPECT_TRUE(RunUntil([&] { return events.size() > 8; }));
  EXPECT_EQ(events, "started failed");

  Link link;
  ASSERT_EQ(link.Connect("00:1A:7D:DA:71:13"), 0);
  EXPECT_TRUE(RunUntil([&] { return link.connects == 1; }, std::chrono::seconds(60)));
  EXPECT_EQ(link.client.State(), 0u);
  if (adapters.isEmpty()) EXPECT_EQ(link.error, kServiceNotFound);
  else EXPECT_NE(link.error, 0);
  EXPECT_FALSE(link.eventInCall);
  link.client.Parameters.service = "not a uuid";
  EXPECT_EQ(link.client.Connect(), wcl::kBadAddress);
}

TEST(LinkCodes, QtsWordsGiveTheSystemsNumberBackAndCodesAreWorded) {
  const std::pair<QString, std::int32_t> words[] = {
      {qt_error_string(ETIMEDOUT), ETIMEDOUT}, {qt_error_string(EIO), EIO},
      {"Host unreachable", EHOSTUNREACH}, {"Network unreachable", ENETUNREACH},
      {"Host not found", kHostNotFound}, {"", -1}, {"Something else", -1}};
  for (const auto& [said, code] : words) EXPECT_EQ(ErrnoFromWords(said, -1), code) << said.toStdString();
  // Qt's kinds give the number; the words count only where a kind stands for many.
  using E = QBluetoothSocket::SocketError;
  const std::pair<std::int32_t, std::int32_t> kinds[] = {
      {TcpErrorCode(QAbstractSocket::ConnectionRefusedError, "Host unreachable", false), ECONNREFUSED},
      {TcpErrorCode(QAbstractSocket::RemoteHostClosedError, "", true), wcl::kClosedByPeer},
      {TcpErrorCode(QAbstractSocket::RemoteHostClosedError, "", false), ECONNRESET},
      {TcpErrorCode(QAbstractSocket::NetworkError, "Host unreachable", true), EHOSTUNREACH},
      {BluetoothErrorCode(E::ServiceNotFoundError, qt_error_string(EIO), false), kServiceNotFound},
      {BluetoothErrorCode(E::UnknownSocketError, qt_error_string(EHOSTDOWN), false), EHOSTDOWN},
      {BluetoothErrorCode(E::NetworkError, "", true), wcl::kClosedByPeer},
      {SerialErrorCode(QSerialPort::DeviceNotFoundError, "/dev/null"), ENOENT},
      {SerialErrorCode(QSerialPort::PermissionError, "/dev/null"), EBUSY}};  // one the user may open: held
  for (std::size_t i = 0; i < std::size(kinds); ++i) EXPECT_EQ(kinds[i].first, kinds[i].second) << i;
  QtLibraryManager library;
  EXPECT_EQ(library.Describe(ECONNREFUSED), qt_error_string(ECONNREFUSED).toStdString());
  EXPECT_EQ(library.Describe(wcl::kClosedByPeer), wcl::Describe(wcl::kClosedByPeer));
  EXPECT_EQ(library.Describe(kHostNotFound), "Host not found");
}

}  // namespace
}  // namespace tarvik::lnx

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
