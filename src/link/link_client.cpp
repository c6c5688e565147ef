#include "link/link_client.h"

#include <variant>

namespace tarvik {

// The transport's reports, each acted on from the event loop.
class LinkClient::Events : public ILinkEvents {
 public:
  explicit Events(LinkClient& client) : c_(client) {}
  void Resolved(std::int32_t error, std::size_t count) override {
    c_.Post([this, error, count] {
      if (c_.state_ == kConnecting) c_.OnResolved(error, count);
    });
  }
  void Opened() override {
    c_.Post([this] {
      if (c_.state_ == kConnecting) c_.Opened();
    });
  }
  void Received(std::vector<std::uint8_t> bytes) override {
    if (bytes.empty()) return;
    c_.Post([this, bytes = std::move(bytes)]() mutable {
      if (c_.state_ == kOpen && c_.OnData) c_.OnData(std::move(bytes));
    });
  }
  void Writable() override {
    c_.Post([this] {
      if (c_.state_ != kOpen) return;
      if (const std::int32_t r = c_.queue_.Resume(*c_.transport_)) c_.Drop(r);
    });
  }
  void Failed(std::int32_t error) override {
    c_.Post([this, error] { c_.Failed(error); });
  }

 private:
  LinkClient& c_;
};

LinkClient::LinkClient(ILinkLoop& loop, TransportMaker make, Codes codes)
    : loop_(loop), make_(std::move(make)), codes_(codes), events_(std::make_unique<Events>(*this)) {}

LinkClient::~LinkClient() {
  *alive_ = false;
  CloseTransport();
}

void LinkClient::Post(std::function<void()> work) {
  loop_.Post([this, alive = alive_, generation = generation_, work = std::move(work)] {
    if (*alive && generation == generation_) work();
  });
}

void LinkClient::CloseTransport() {
  ++generation_;  // what was posted about this endpoint or attempt is moot now
  loop_.StopTimer();
  if (transport_) transport_->Close();
  queue_.Clear();
}

void LinkClient::Idle() {
  CloseTransport();
  transport_.reset();
  state_ = kIdle;
}

std::int32_t LinkClient::Connect() {
  if (state_ != kIdle) return wcl::kBusy;
  const auto address = ParseReaderAddress(StripParentheses(Parameters.address));
  if (!address) return wcl::kBadAddress;
  if (std::holds_alternative<BluetoothAddress>(*address) && !ParseGuid(Parameters.service))
    return wcl::kBadAddress;
  CloseTransport();
  std::int32_t error = wcl::kBadAddress;
  transport_ = make_(*address, Parameters, *events_, error);
  if (!transport_) return error;
  state_ = kConnecting;
  if (transport_->LooksUp()) {
    transport_->Resolve();
    return 0;
  }
  walk_ = AddressWalk(1, [this](std::size_t i) { return StartEndpoint(i); });
  if (const std::int32_t r = walk_.Begin(wcl::kBadAddress)) {
    // Could not even start: said now, as the result, not as an event.
    Idle();
    return r;
  }
  return 0;
}

void LinkClient::OnResolved(std::int32_t error, std::size_t count) {
  if (error != 0) {
    ConnectFailed(error);
    return;
  }
  walk_ = AddressWalk(count, [this](std::size_t i) { return StartEndpoint(i); });
  if (const std::int32_t r = walk_.Begin(wcl::kBadAddress)) ConnectFailed(r);
}

std::int32_t LinkClient::StartEndpoint(std::size_t index) {
  const std::int32_t r = transport_->Open(index);
  if (r == 0 && !walk_.IsLast()) {
    const std::uint32_t generation = generation_;
    loop_.StartTimer(kAddressTimeout, [this, alive = alive_, generation] {
      if (*alive && generation == generation_ && state_ == kConnecting) AddressFailed(codes_.timedOut);
    });
  }
  return r;
}

void LinkClient::Failed(std::int32_t error) {
  if (state_ == kConnecting) AddressFailed(error);
  else if (state_ == kOpen) Drop(error);
}

void LinkClient::AddressFailed(std::int32_t error) {
  CloseTransport();
  if (const std::int32_t r = walk_.Failed(error)) ConnectFailed(r);
}

void LinkClient::ConnectFailed(std::int32_t error) {
  Idle();
  if (OnConnect) OnConnect(error);
}

void LinkClient::Opened() {
  loop_.StopTimer();
  transport_->Use();
  state_ = kOpen;
  dropReason_ = 0;
  if (OnConnect) OnConnect(0);
}

void LinkClient::Drop(std::int32_t reason) {
  if (state_ != kOpen) return;
  Idle();
  dropReason_ = reason;
  if (OnDisconnect) OnDisconnect();
}

std::int32_t LinkClient::Write(std::span<const std::uint8_t> bytes) {
  if (state_ != kOpen) return wcl::kNotConnected;
  const std::int32_t r = queue_.Write(bytes, *transport_);
  // The link goes soon after, not here and now: the caller is in the middle
  // of a command.
  if (r != 0) Post([this, r] { Drop(r); });
  return r;
}

void LinkClient::Disconnect() {
  if (state_ == kIdle) return;
  const bool wasOpen = state_ == kOpen;
  Idle();
  dropReason_ = 0;
  // The events come as they would from the system: later, from the event loop.
  const auto alive = alive_;
  if (wasOpen) {
    loop_.Post([this, alive] {
      if (*alive && OnDisconnect) OnDisconnect();
    });
  } else {
    loop_.Post([this, alive, error = codes_.aborted] {
      if (*alive && OnConnect) OnConnect(error);
    });
  }
}

std::size_t LinkClient::Waiting() const {
  return queue_.Waiting() + (transport_ ? transport_->Buffered() : 0);
}

}  // namespace tarvik
