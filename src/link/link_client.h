// wclClient once for every platform: the attempt over each address a name
// resolved to, the write queue, the drop and its reason, and the events,
// raised only from the event loop, never within a call into the client. A
// platform supplies how a reader is reached (a transport per attempt), its
// event loop and a one-shot timer.
#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "link/address.h"
#include "link/address_walk.h"
#include "link/wireless.h"
#include "link/write_queue.h"

namespace tarvik {

// What a transport tells its client. It may tell it from anywhere on the
// event loop's thread, even within a call into the transport: the client
// acts on it later, from the event loop, and not at all once the transport
// has been closed.
class ILinkEvents {
 public:
  virtual ~ILinkEvents() = default;
  // The endpoints were looked up: `count` of them, or the lookup's error.
  virtual void Resolved(std::int32_t error, std::size_t count) = 0;
  virtual void Opened() = 0;
  virtual void Received(std::vector<std::uint8_t> bytes) = 0;
  virtual void Writable() = 0;  // the transport takes bytes again
  // The endpoint failed to open, or the open link ended (wcl::kClosedByPeer
  // when the reader closed it in order).
  virtual void Failed(std::int32_t error) = 0;
};

// One way to a reader, made for one attempt. Send takes what it can now.
class ILinkTransport : public ILinkSink {
 public:
  // A transport to a host name looks its endpoints up first (Resolve,
  // answered by Resolved); any other has one endpoint.
  virtual bool LooksUp() const { return false; }
  virtual void Resolve() {}
  // Starts opening endpoint `index`: 0 when the outcome comes later as
  // Opened or Failed, else the error it failed with at once.
  virtual std::int32_t Open(std::size_t index) = 0;
  // The link is open and about to be used (keep-alive, watching the port).
  virtual void Use() {}
  // Bytes taken but not sent yet, in the transport's own buffer.
  virtual std::size_t Buffered() const { return 0; }
  // Ends the endpoint under way or the open link; nothing is told after.
  virtual void Close() = 0;
};

// The event loop and a timer, as the platform has them.
class ILinkLoop {
 public:
  virtual ~ILinkLoop() = default;
  // Runs `work` later from the event loop, never within this call.
  virtual void Post(std::function<void()> work) = 0;
  // Calls `done` once from the event loop after `after`; a second start or
  // a stop cancels the one before.
  virtual void StartTimer(std::chrono::milliseconds after, std::function<void()> done) = 0;
  virtual void StopTimer() = 0;
};

// Makes the transport for an address, reporting to `events`; none and the
// reason when this platform cannot reach such an address.
using TransportMaker = std::function<std::unique_ptr<ILinkTransport>(
    const ReaderAddress& address, const LinkParameters& parameters, ILinkEvents& events, std::int32_t& error)>;

// An address that has not answered in this time gives way to the next one;
// the last address gets the system's own time.
inline constexpr std::chrono::milliseconds kAddressTimeout{5000};

class LinkClient : public wclClient {
 public:
  enum : std::uint32_t { kIdle = 0, kConnecting = 1, kOpen = 2 };
  // `aborted`: what OnConnect says of an attempt that Disconnect called off;
  // `timedOut`: what an address that gave way to the next one failed with.
  struct Codes {
    std::int32_t aborted = 0, timedOut = 0;
  };
  LinkClient(ILinkLoop& loop, TransportMaker make, Codes codes);
  ~LinkClient() override;
  LinkClient(const LinkClient&) = delete;
  LinkClient& operator=(const LinkClient&) = delete;

  std::int32_t Connect() override;
  std::uint32_t State() const override { return state_; }
  std::int32_t Write(std::span<const std::uint8_t> bytes) override;
  void Disconnect() override;
  std::int32_t DropReason() const override { return dropReason_; }

  // Bytes written that the link has not sent yet: the transport's and the queue's.
  std::size_t Waiting() const;
  // The transport of the attempt under way or of the open link, or none.
  ILinkTransport* Transport() const { return transport_.get(); }
  // An open link ended on its own, as the platform saw it (a serial adapter
  // pulled): dropped now, with this reason.
  void Drop(std::int32_t reason);

 private:
  class Events;
  // Runs `work` from the event loop unless the transport or attempt of now
  // has gone by then.
  void Post(std::function<void()> work);
  void OnResolved(std::int32_t error, std::size_t count);
  std::int32_t StartEndpoint(std::size_t index);
  void Failed(std::int32_t error);  // by state: the address or the link
  void AddressFailed(std::int32_t error);
  void ConnectFailed(std::int32_t error);  // raises OnConnect now
  void Opened();
  void CloseTransport();
  void Idle();  // the transport closed and gone

  ILinkLoop& loop_;
  TransportMaker make_;
  Codes codes_;
  std::unique_ptr<Events> events_;
  std::unique_ptr<ILinkTransport> transport_;
  AddressWalk walk_;
  WriteQueue queue_;
  std::uint32_t state_ = kIdle;
  std::int32_t dropReason_ = 0;
  // Posted calls carry the number of their moment and are dropped when it
  // has changed: a new attempt, a transport closed.
  std::uint32_t generation_ = 0;
  // Shared with posted calls, which find it false once the client is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace tarvik
